// COM set-up, the connection to the namespace and the instance query of the firmware's class.
#include "firmware/WmiClient.h"

#include "firmware/Clock.h"
#include "firmware/ComHelpers.h"

#include <cstdio>
#include <cwchar>
#include <new>

WmiClient* g_pWmiClient = nullptr;

Deadline::Deadline(DWORD boundMs) : m_start(ClockNowMs()), m_end(m_start + boundMs) {}

Deadline Deadline::StartingNow() const {
    Deadline now(*this);
    now.m_start = ClockNowMs();
    return now;
}

Deadline Deadline::Sooner(DWORD boundMs) const {
    Deadline sooner = StartingNow();
    if (sooner.m_start + boundMs < sooner.m_end) sooner.m_end = sooner.m_start + boundMs;
    return sooner;
}

void Deadline::PauseUntil(DWORD offsetMs) const {
    const ULONGLONG now = ClockNowMs();
    if (m_start + offsetMs > now) ClockSleep(static_cast<DWORD>(m_start + offsetMs - now));
}

DWORD Deadline::Left() const {
    const ULONGLONG now = ClockNowMs();
    return now < m_end ? static_cast<DWORD>(m_end - now) : 0;
}

HRESULT AwaitCallResult(IWbemCallResult* pending, const Deadline& deadline, IWbemClassObject** result, bool& gaveUp) {
    gaveUp = false;
    if (pending == nullptr) return WBEM_E_UNEXPECTED;  // a success without the promised call result
    SetProxySecurity(pending);
    HRESULT hr;
    do {  // a provider may give up waiting before the time asked for: wait again while time is left
        hr = pending->GetResultObject(static_cast<LONG>(deadline.Left()), result);
    } while (hr == WBEM_S_TIMEDOUT && deadline.Left() > 0);
    if (hr != WBEM_S_TIMEDOUT) return hr;
    gaveUp = true;
    return WBEM_E_TIMED_OUT;
}

WmiParam::WmiParam(const wchar_t* paramName, const VARIANT& paramValue) : name(paramName) {
    ::VariantInit(&value);
    ::VariantCopy(&value, const_cast<VARIANT*>(&paramValue));
}

WmiParam::~WmiParam() { ::VariantClear(&value); }

namespace {

void FreeInstancePaths(WmiClient& client) {
    for (int i = 0; i < client.nInstances && client.pInstancePaths != nullptr; ++i)
        ::SysFreeString(client.pInstancePaths[i]);
    delete[] client.pInstancePaths;
    client.pInstancePaths = nullptr;
}

}  // namespace

WmiClient::~WmiClient() {
    FreeInstancePaths(*this);
    ::SysFreeString(bstrClass);
}

void FormatStepResult(wchar_t (&buffer)[100], const wchar_t* format, HRESULT hr) {
    // The runtime's own bounded formatter; it may leave the text unterminated when it fills the room.
    ::_snwprintf(buffer, 99, format, static_cast<unsigned>(hr));
    buffer[99] = L'\0';
    ::OutputDebugStringW(buffer);
}

bool InitComSecurity() {
    wchar_t diagnostic[100];
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const bool joined = SUCCEEDED(hr);
    if (!joined) {
        FormatStepResult(diagnostic, L"CoInitialize returned 0x%x:", hr);
        // A thread that something else (an input method, a text service) already made single-threaded
        // keeps that apartment, and COM is usable in it; any other failure leaves COM unusable.
        if (hr != RPC_E_CHANGED_MODE) return false;
    }
    hr = ::CoInitializeSecurity(nullptr,                        // no security descriptor
                                -1,                             // COM chooses the authentication services
                                nullptr,                        // ... from its own list
                                nullptr,                        // reserved
                                RPC_C_AUTHN_LEVEL_PKT_PRIVACY,  // authenticated, signed, encrypted
                                RPC_C_IMP_LEVEL_IMPERSONATE,    // servers may act as the caller locally
                                nullptr,                        // no authentication list
                                EOAC_SECURE_REFS,               // authenticated reference counting
                                nullptr);                       // reserved
    if (FAILED(hr)) FormatStepResult(diagnostic, L"CoInitializeSecurity returned 0x%x:", hr);
    return joined;
}

void SetProxySecurity(IUnknown* proxy) {
    // The process defaults hold only when CoInitializeSecurity succeeded; without them a WMI proxy runs at
    // the Identify level, which WMI refuses. Set on each proxy, the blanket does not depend on them.
    if (proxy != nullptr)
        ::CoSetProxyBlanket(proxy,
                            RPC_C_AUTHN_WINNT,              // NTLM, the local authentication service
                            RPC_C_AUTHZ_NONE,               // no authorization service
                            nullptr,                        // no server principal name
                            RPC_C_AUTHN_LEVEL_PKT_PRIVACY,  // authenticated, signed, encrypted
                            RPC_C_IMP_LEVEL_IMPERSONATE,    // WMI may act as the caller locally
                            nullptr,                        // the process's identity
                            EOAC_NONE);                     // no further capabilities
}

namespace {

// One connection made on a worker thread in the multithreaded apartment, so that the thread that asks
// can give up waiting for it. Shared by both; whoever is last frees it.
class PendingConnection {
public:
    explicit PendingConnection(const wchar_t* namespaceName)
        : m_namespace(::SysAllocString(namespaceName)),
          m_answered(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_taken(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    PendingConnection(const PendingConnection&) = delete;
    PendingConnection& operator=(const PendingConnection&) = delete;

    // Starts the worker; false when it could not be started (nothing is pending then).
    bool Start() {
        if (m_namespace == nullptr || m_answered == nullptr || m_taken == nullptr) return false;
        ::InterlockedIncrement(&m_refs);  // the worker's
        m_thread = ::CreateThread(nullptr, 0, &PendingConnection::Work, this, 0, nullptr);
        if (m_thread == nullptr) {
            ::InterlockedDecrement(&m_refs);
            return false;
        }
        return true;
    }

    // Waits until the deadline for the namespace, in the caller's apartment: S_OK with it, the
    // connection's failure, or WBEM_E_TIMED_OUT when it did not come in time (it is released when it does).
    HRESULT Await(const Deadline& deadline, IWbemServices** services) {
        ClockWait(m_answered, deadline.Left());
        if (::InterlockedCompareExchange(&m_state, kAbandoned, kPending) == kPending) return WBEM_E_TIMED_OUT;
        HRESULT hr = m_hr;
        if (hr == S_OK)  // the worker's apartment may not be this thread's: the namespace is unmarshaled here
            hr = ::CoGetInterfaceAndReleaseStream(m_marshaled, IID_IWbemServices, reinterpret_cast<void**>(services));
        m_marshaled = nullptr;
        ::SetEvent(m_taken);
        // The worker that answered only lets go of its apartment now: wait for it, within bounds, so that it
        // is not cut off half-way when the program ends soon after (Wine's server aborts a process whose
        // thread was ended in the middle of a handle's call).
        ::WaitForSingleObject(m_thread, kWorkerEndMs);
        return hr;
    }

    void Release() {
        if (::InterlockedDecrement(&m_refs) > 0) return;
        ::SysFreeString(m_namespace);
        if (m_answered != nullptr) ::CloseHandle(m_answered);
        if (m_taken != nullptr) ::CloseHandle(m_taken);
        if (m_thread != nullptr) ::CloseHandle(m_thread);
        delete this;
    }

private:
    ~PendingConnection() = default;

    static constexpr LONG kPending = 0, kAnswered = 1, kAbandoned = 2;
    static constexpr DWORD kWorkerEndMs = 1000;  // after the answer it only releases what it made

    static DWORD WINAPI Work(void* parameter) {
        auto* self = static_cast<PendingConnection*>(parameter);
        self->Connect();
        self->Release();
        return 0;
    }

    void Connect() {
        const HRESULT joined = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        Microsoft::WRL::ComPtr<IWbemLocator> locator;
        Microsoft::WRL::ComPtr<IWbemServices> services;
        HRESULT hr = joined;
        if (SUCCEEDED(hr))
            hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr /* no outer object */, CLSCTX_INPROC_SERVER,
                                    IID_IWbemLocator, reinterpret_cast<void**>(locator.GetAddressOf()));
        if (SUCCEEDED(hr))
            // A connection that nobody waits for any more still ends: WMI answers within 2 minutes with this
            // flag, successful or not, and the worker with it. What no flag bounds is a WMI service that stops
            // answering at the transport level; the caller has given up long before, only the worker stays.
            hr = locator->ConnectServer(m_namespace,
                                        nullptr,  // user: the current one
                                        nullptr,  // password: the current one
                                        nullptr,  // locale: the current one
                                        WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                                        nullptr,  // authority: the current domain
                                        nullptr,  // no context
                                        services.GetAddressOf());
        if (hr == S_OK)
            hr = ::CoMarshalInterThreadInterfaceInStream(IID_IWbemServices, services.Get(), &m_marshaled);
        m_hr = hr != S_OK && SUCCEEDED(hr) ? static_cast<HRESULT>(WBEM_E_FAILED) : hr;  // only S_OK connects
        if (::InterlockedCompareExchange(&m_state, kAnswered, kPending) == kPending) {
            ::SetEvent(m_answered);
            ::WaitForSingleObject(m_taken, INFINITE);  // this apartment stays until the caller took the namespace
        } else if (m_marshaled != nullptr) {
            // Nobody waits any more: the late connection is released, never used.
            Microsoft::WRL::ComPtr<IWbemServices> late;
            ::CoGetInterfaceAndReleaseStream(m_marshaled, IID_IWbemServices, reinterpret_cast<void**>(late.GetAddressOf()));
            m_marshaled = nullptr;
        }
        services.Reset();
        locator.Reset();
        if (SUCCEEDED(joined)) ::CoUninitialize();
    }

    LONG m_refs = 1;  // the caller's
    LONG m_state = kPending;
    BSTR m_namespace;
    HANDLE m_answered;
    HANDLE m_taken;
    HANDLE m_thread = nullptr;
    HRESULT m_hr = WBEM_E_FAILED;
    IStream* m_marshaled = nullptr;
};

}  // namespace

bool ConnectNamespace(const wchar_t* namespaceName, const Deadline& deadline, HRESULT* answer) {
    if (answer != nullptr) *answer = WBEM_E_INVALID_PARAMETER;
    if (g_pWmiClient == nullptr || namespaceName == nullptr) return false;
    WmiClient& client = *g_pWmiClient;
    client.pServices.Reset();
    client.bConnected = false;

    // WMI offers no connection that gives up at a bound of the caller's: a worker connects, this thread waits
    // for it until the deadline.
    auto* pending = new (std::nothrow) PendingConnection(namespaceName);
    if (pending == nullptr) return false;
    const HRESULT hr = pending->Start() ? pending->Await(deadline, client.pServices.GetAddressOf())
                                        : static_cast<HRESULT>(WBEM_E_FAILED);
    pending->Release();
    if (answer != nullptr) *answer = hr;
    if (FAILED(hr)) {  // the worker hands back S_OK with the namespace or a failure, nothing else
        client.pServices.Reset();
        return false;
    }
    SetProxySecurity(client.pServices.Get());
    client.bConnected = true;
    return true;
}

namespace {

// Hands back the next object of the enumerator (or null) and records the call's HRESULT. A step that
// hands back nothing by the deadline is given up: a failed step (WBEM_E_TIMED_OUT).
IWbemClassObject* NextObject(IEnumWbemClassObject* enumerator, const Deadline& deadline, HRESULT& latest) {
    IWbemClassObject* object = nullptr;
    ULONG returned = 0;
    do {  // an enumerator may give up waiting before the time asked for: wait again while time is left
        latest = enumerator->Next(static_cast<LONG>(deadline.Left()), 1 /* one object */, &object, &returned);
    } while (latest == WBEM_S_TIMEDOUT && returned == 0 && deadline.Left() > 0);
    if (latest == WBEM_S_TIMEDOUT && returned == 0) latest = WBEM_E_TIMED_OUT;
    if (returned == 0 && object != nullptr) {
        object->Release();  // a provider that says "none" yet hands back an object
        object = nullptr;
    }
    return object;
}

// The __PATH of an instance, as a BSTR the caller owns; null when it has none.
BSTR InstancePath(IWbemClassObject* object) {
    VARIANT path;
    ::VariantInit(&path);
    if (FAILED(object->Get(L"__PATH", 0 /* flags */, &path, nullptr /* no type */, nullptr /* no flavour */)))
        return nullptr;
    if (V_VT(&path) == VT_BSTR) return V_BSTR(&path);  // the table takes over the string
    ::VariantClear(&path);
    return nullptr;
}

// Asks WMI for every instance of the class, forward only and returning at once: the enumerator, or null.
IEnumWbemClassObject* StartQuery(WmiClient& client, const wchar_t* className, HRESULT& latest) {
    constexpr size_t kQueryRoom = 200;
    wchar_t queryText[kQueryRoom] = L"Select * From ";
    std::wcsncat(queryText, className, kQueryRoom - std::wcslen(queryText) - 1);
    const Bstr language(L"WQL");
    const Bstr query(queryText);
    IEnumWbemClassObject* enumerator = nullptr;
    latest = client.pServices->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                         nullptr,  // no context
                                         &enumerator);
    return enumerator;
}

// The counting pass: the instances the enumerator hands back, the last one counted kept in hand for the path
// walk. An object handed back with a failure code is neither counted nor kept. A cold provider may take long to
// hand back the first instance; once one is in hand, the rest of the enumeration (rest) has a click's bound, so
// that an end that does not come leaves time for the calls.
int CountInstances(IEnumWbemClassObject* enumerator, const Deadline& deadline, Deadline& rest,
                   IWbemClassObject*& inHand, HRESULT& latest) {
    SetProxySecurity(enumerator);
    int count = 0;
    while (IWbemClassObject* object = NextObject(enumerator, rest, latest)) {
        if (FAILED(latest)) {
            object->Release();
            continue;
        }
        if (count++ == 0) rest = deadline.Sooner(kFirmwareBoundMs);
        if (inHand != nullptr) inHand->Release();
        inHand = object;
    }
    return count;
}

// The path walk, after the count: entry 0 gets the object in hand; later entries only what the enumerator gives
// after a reset. An enumeration that failed or ran out of time (latest) is not asked again: it would only make
// the walk wait. The object in hand and the enumerator are released.
void WalkInstancePaths(WmiClient& client, IEnumWbemClassObject* enumerator, IWbemClassObject* inHand, int count,
                       const Deadline& rest, HRESULT latest) {
    const bool endedInTime = SUCCEEDED(latest);
    enumerator->Reset();
    for (int i = 0; inHand != nullptr;) {
        if (i == 0 || SUCCEEDED(latest)) client.pInstancePaths[i] = InstancePath(inHand);
        inHand->Release();
        inHand = endedInTime ? NextObject(enumerator, rest, latest) : nullptr;
        if (inHand == nullptr || ++i >= count) break;
    }
    if (inHand != nullptr) inHand->Release();
    enumerator->Release();
}

}  // namespace

int QueryInstances(const wchar_t* className, const Deadline& deadline, HRESULT* latestResult) {
    if (latestResult != nullptr) *latestResult = WBEM_E_INVALID_OPERATION;
    if (g_pWmiClient == nullptr || !g_pWmiClient->bConnected || className == nullptr) return 0;
    WmiClient& client = *g_pWmiClient;
    wchar_t diagnostic[100];
    ::SysFreeString(client.bstrClass);
    client.bstrClass = ::SysAllocString(className);

    // The query returns at once; its results come through the enumerator, each step bounded.
    HRESULT latest = S_OK;
    IEnumWbemClassObject* enumerator = StartQuery(client, className, latest);
    FormatStepResult(diagnostic, L"Query returned 0x%x:", latest);
    int count = 0;
    IWbemClassObject* inHand = nullptr;
    Deadline rest = deadline;
    if (enumerator != nullptr) count = CountInstances(enumerator, deadline, rest, inHand, latest);

    FreeInstancePaths(client);
    if (count > 0) client.pInstancePaths = new BSTR[count]();
    FormatStepResult(diagnostic, L"Obj count returned 0x%x:", latest);
    client.nInstances = count;
    if (latestResult != nullptr) *latestResult = latest;
    if (enumerator != nullptr) WalkInstancePaths(client, enumerator, inHand, count, rest, latest);
    return count;
}

void ReleaseWmiObjects() {
    if (g_pWmiClient == nullptr) return;
    g_pWmiClient->pInParams.Reset();
    g_pWmiClient->pOutParams.Reset();
    g_pWmiClient->pServices.Reset();
    g_pWmiClient->bConnected = false;
}
