// Semi-synchronous answers: the call-result object that a caller polls with GetResultObject, and the
// worker threads that bring an answer late, as a slow firmware would.
#include "sim/SimObjects.h"
#include "sim/VirtualClock.h"

#include <cwchar>

namespace {

// The call result of one GetObject or ExecMethod made with WBEM_FLAG_RETURN_IMMEDIATELY.
class SimCallResult final : public SimCallResultBase<SimProxy<IWbemCallResult>> {
public:
    SimCallResult(std::shared_ptr<SimSession> session, std::shared_ptr<SimPendingAnswer> answer)
        : SimCallResultBase(std::move(session), L"CallResult"), m_answer(std::move(answer)) {}
    ~SimCallResult() override { m_answer->Abandon(); }

    // The answer's object, once it is there; WBEM_S_TIMEDOUT while it is not.
    HRESULT STDMETHODCALLTYPE GetResultObject(LONG lTimeout, IWbemClassObject** ppResultObject) override {
        SimLogLine line = Call(L"GetResultObject");
        line.Text(L"apt", SimApartmentName()).Int(L"timeout", lTimeout);
        HRESULT hr = CheckApartment();
        IWbemClassObject* result = nullptr;
        if (ppResultObject == nullptr) {
            hr = WBEM_E_INVALID_PARAMETER;
        } else if (SUCCEEDED(hr)) {
            *ppResultObject = nullptr;
            if (!m_answer->Wait(lTimeout, hr, &result)) hr = WBEM_S_TIMEDOUT;
            *ppResultObject = result;
        }
        SimClassObject* own = SimClassObject::From(result);
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Id(L"out", own != nullptr ? own->id() : 0).Write();
        return hr;
    }

private:
    std::shared_ptr<SimPendingAnswer> m_answer;
};

struct LateWork {
    DWORD delayMs;
    std::function<void()> work;
    HMODULE module;
    VirtualClock* clock;  // with the stall it began, when the test runs a virtual clock
    VirtualClock::Stall stall;
};

DWORD WINAPI RunLate(void* parameter) {
    auto* late = static_cast<LateWork*>(parameter);
    if (late->clock != nullptr)
        late->clock->WaitOut(late->stall);
    else
        ::Sleep(late->delayMs);
    if (late->work) late->work();
    const HMODULE module = late->module;
    delete late;
    ::FreeLibraryAndExitThread(module, 0);  // the reference taken when the thread was made
}

// Runs the work after delayMs on a thread of its own, the DLL kept loaded until it is done.
void RunLater(DWORD delayMs, std::function<void()> work) {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunLate), &module);
    VirtualClock* clock = SimVirtualClock();
    auto* late = new LateWork{delayMs, std::move(work), module, clock, clock != nullptr ? clock->Begin(delayMs) : VirtualClock::Stall{}};
    const HANDLE thread = ::CreateThread(nullptr, 0, &RunLate, late, 0, nullptr);
    if (thread != nullptr) {
        ::CloseHandle(thread);
        return;
    }
    late->work = nullptr;  // no thread: the answer never comes
    delete late;
    ::FreeLibrary(module);
}

}  // namespace

SimPendingAnswer::SimPendingAnswer() { ::InitializeCriticalSection(&m_lock); }

SimPendingAnswer::~SimPendingAnswer() {
    if (m_result != nullptr) m_result->Release();
    if (m_arrived != nullptr) ::CloseHandle(m_arrived);
    ::DeleteCriticalSection(&m_lock);
}

void SimPendingAnswer::Arrive(HRESULT hr, IWbemClassObject* result) {
    ::EnterCriticalSection(&m_lock);
    m_hr = hr;
    m_result = result;
    m_there = true;
    if (m_arrived != nullptr) ::SetEvent(m_arrived);
    ::LeaveCriticalSection(&m_lock);
}

bool SimPendingAnswer::Wait(LONG timeoutMs, HRESULT& hr, IWbemClassObject** result) {
    ::EnterCriticalSection(&m_lock);
    if (!m_there && timeoutMs != 0 && m_arrived == nullptr) m_arrived = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE arrived = m_there ? nullptr : m_arrived;
    ::LeaveCriticalSection(&m_lock);
    // The event lives as long as this object, which the caller's reference keeps.
    if (arrived != nullptr) SimWait(arrived, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    ::EnterCriticalSection(&m_lock);
    const bool there = m_there;
    if (there) {
        hr = m_hr;
        *result = m_result;
        if (m_result != nullptr) m_result->AddRef();
    }
    ::LeaveCriticalSection(&m_lock);
    return there;
}

void SimPendingAnswer::Abandon() {
    ::EnterCriticalSection(&m_lock);
    m_abandoned = true;
    IWbemClassObject* result = m_result;
    m_result = nullptr;
    ::LeaveCriticalSection(&m_lock);
    if (result != nullptr) result->Release();
}

bool SimPendingAnswer::Abandoned() const {
    ::EnterCriticalSection(&m_lock);
    const bool abandoned = m_abandoned;
    ::LeaveCriticalSection(&m_lock);
    return abandoned;
}

IWbemCallResult* SimCreateCallResult(std::shared_ptr<SimSession> session, std::shared_ptr<SimPendingAnswer> answer,
                                     long& id) {
    auto* result = new SimCallResult(std::move(session), std::move(answer));
    id = result->id();
    return result;
}

void SimAnswerLater(const SimAnswer& answer, std::function<void()> work) {
    if (answer.never && SimVirtualClock() != nullptr)
        RunLater(INFINITE, nullptr);  // a stall that never ends, for the virtual clock to see
    else if (answer.never)
        return;
    else if (answer.delayMs == 0)
        work();
    else
        RunLater(answer.delayMs, std::move(work));
}

void SimWait(HANDLE handle, DWORD timeoutMs) {
    // A call through a proxy from a single-threaded apartment waits in COM's modal loop, which goes on
    // dispatching the thread's messages (CoWaitForMultipleHandles: "If the caller resides in a single-thread
    // apartment, CoWaitForMultipleHandles enters the COM modal loop"); one from the multithreaded apartment
    // just blocks.
    DWORD index = 0;
    if (ClockSource* clock = SimVirtualClock())
        clock->Wait(handle, timeoutMs);
    else if (std::wcscmp(SimApartmentName(), L"sta") == 0)
        ::CoWaitForMultipleHandles(0, timeoutMs, 1, &handle, &index);
    else
        ::WaitForSingleObject(handle, timeoutMs);
}

void SimWaitForAnswer(const SimAnswer& answer) {
    if (answer.never)
        SimSleep(INFINITE);
    else if (answer.delayMs > 0)
        SimSleep(answer.delayMs);
}

void SimSleep(DWORD ms) {
    if (ClockSource* clock = SimVirtualClock())
        clock->Sleep(ms);
    else
        ::Sleep(ms);
}

ULONGLONG SimNowMs() {
    ClockSource* clock = SimVirtualClock();
    return clock != nullptr ? clock->NowMs() : ::GetTickCount64();
}
