// The simulated query result: hands out a fresh instance object on each Next, like a forward-only
// WMI enumerator, and refuses Reset when it was asked for forward-only (unless the scenario rewinds).
// A Next waits, up to its time-out, until the query's results and its own answer are there.
#include "sim/SimObjects.h"

namespace {

// The enumerator of one ExecQuery.
class SimEnumerator final : public SimEnumeratorBase<SimProxy<IEnumWbemClassObject>> {
public:
    SimEnumerator(std::shared_ptr<SimSession> session, int instances, bool forwardOnly, const SimAnswer& results)
        : SimEnumeratorBase(std::move(session), L"Enumerator"),
          m_instances(instances),
          m_forwardOnly(forwardOnly),
          m_resultsNever(results.never),
          m_resultsAt(SimNowMs() + results.delayMs) {}

    // Rewinds to the first instance, unless the enumerator is forward-only.
    HRESULT STDMETHODCALLTYPE Reset() override {
        SimLogLine line = Call(L"Reset");
        HRESULT hr = S_OK;
        if (m_forwardOnly && !m_session->scenario().resetRewinds)
            hr = WBEM_E_INVALID_OPERATION;
        else
            m_next = 0;
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Write();
        return hr;
    }

    // Hands out up to uCount instances; WBEM_S_FALSE when fewer were left, WBEM_S_TIMEDOUT and none when
    // the answer is not there within the time-out.
    HRESULT STDMETHODCALLTYPE Next(LONG lTimeout, ULONG uCount, IWbemClassObject** apObjects,
                                   ULONG* puReturned) override {
        SimLogLine line = Call(L"Next");
        line.Text(L"apt", SimApartmentName()).Int(L"timeout", lTimeout).Int(L"count", uCount);
        const SimAnswer answer = m_session->NextAnswer(L"Next");
        HRESULT hr = CheckApartment();
        std::wstring ids;
        if (apObjects == nullptr || puReturned == nullptr || FAILED(hr)) {
            if (SUCCEEDED(hr)) hr = WBEM_E_INVALID_PARAMETER;
            line.Hex(L"hr", static_cast<unsigned long>(hr));
        } else if (*puReturned = 0, !WaitForAnswer(answer, lTimeout)) {
            hr = WBEM_S_TIMEDOUT;
            line.Hex(L"hr", static_cast<unsigned long>(hr)).Int(L"returned", 0);
        } else if (answer.hasCode && answer.hr != S_OK) {
            hr = answer.hr;  // a failure, or WBEM_S_FALSE: no object
            line.Hex(L"hr", static_cast<unsigned long>(hr)).Int(L"returned", 0);
        } else {
            ULONG returned = 0;
            for (; returned < uCount && m_next < m_instances; ++returned, ++m_next) {
                SimClassObject* instance = SimClassObject::MakeInstance(m_session, m_next);
                apObjects[returned] = instance;
                ids += (ids.empty() ? L"" : L",") + std::to_wstring(instance->id());
            }
            *puReturned = returned;
            if (returned < uCount) hr = WBEM_S_FALSE;
            line.Hex(L"hr", static_cast<unsigned long>(hr)).Int(L"returned", returned);
        }
        line.Text(L"out", ids.empty() ? nullptr : ids.c_str()).Write();
        return hr;
    }

private:
    // Waits until the query's results and this call's answer are both there, but no longer than the
    // time-out (WBEM_INFINITE: for ever); false when the time-out came first.
    bool WaitForAnswer(const SimAnswer& answer, LONG timeoutMs) const {
        const ULONGLONG now = SimNowMs();
        const bool never = m_resultsNever || answer.never;
        ULONGLONG wait = m_resultsAt > now ? m_resultsAt - now : 0;
        if (answer.delayMs > wait) wait = answer.delayMs;
        if (timeoutMs < 0) {  // WBEM_INFINITE
            if (never || wait > 0) SimSleep(never ? INFINITE : static_cast<DWORD>(wait));
            return true;
        }
        if (never || wait > static_cast<ULONGLONG>(timeoutMs)) {
            SimSleep(static_cast<DWORD>(timeoutMs));
            return false;
        }
        if (wait > 0) SimSleep(static_cast<DWORD>(wait));
        return true;
    }

    int m_instances;
    bool m_forwardOnly;
    bool m_resultsNever;
    ULONGLONG m_resultsAt;
    int m_next = 0;
};

}  // namespace

IEnumWbemClassObject* SimCreateEnumerator(std::shared_ptr<SimSession> session, int instances, bool forwardOnly,
                                          const SimAnswer& results, long& id) {
    auto* enumerator = new SimEnumerator(std::move(session), instances, forwardOnly, results);
    id = enumerator->id();
    return enumerator;
}
