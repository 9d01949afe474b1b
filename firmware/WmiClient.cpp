// COM set-up, the connection to the namespace and the instance query of the firmware's class.
#include "firmware/WmiClient.h"

#include "firmware/ComHelpers.h"

#include <cstdio>
#include <cwchar>

WmiClient* g_pWmiClient = nullptr;

namespace {

// The end of the time limit in force (GetTickCount64), 0 when there is none.
ULONGLONG g_limitEnd = 0;

}  // namespace

Deadline::Deadline(DWORD boundMs) : m_start(::GetTickCount64()), m_end(m_start + boundMs) {
    if (g_limitEnd != 0 && g_limitEnd < m_end) m_end = g_limitEnd;
}

void Deadline::PauseUntil(DWORD offsetMs) const {
    const ULONGLONG now = ::GetTickCount64();
    if (m_start + offsetMs > now) ::Sleep(static_cast<DWORD>(m_start + offsetMs - now));
}

DWORD Deadline::Left() const {
    const ULONGLONG now = ::GetTickCount64();
    return now < m_end ? static_cast<DWORD>(m_end - now) : 0;
}

FirmwareTimeLimit::FirmwareTimeLimit(DWORD limitMs) { g_limitEnd = ::GetTickCount64() + limitMs; }

FirmwareTimeLimit::~FirmwareTimeLimit() { g_limitEnd = 0; }

HRESULT AwaitCallResult(IWbemCallResult* pending, const Deadline& deadline, IWbemClassObject** result, bool& gaveUp) {
    gaveUp = false;
    if (pending == nullptr) return WBEM_E_UNEXPECTED;  // a success without the promised call result
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

void InitComSecurity() {
    wchar_t diagnostic[100];
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        FormatStepResult(diagnostic, L"CoInitialize returned 0x%x:", hr);
        return;
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
}

bool ConnectNamespace(const wchar_t* namespaceName) {
    if (g_pWmiClient == nullptr || namespaceName == nullptr) return false;
    WmiClient& client = *g_pWmiClient;
    const Bstr ns(namespaceName);

    HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr /* no outer object */, CLSCTX_INPROC_SERVER,
                                    IID_IWbemLocator,
                                    reinterpret_cast<void**>(client.pLocator.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) return false;

    hr = client.pLocator->ConnectServer(ns,
                                        nullptr,  // user: the current one
                                        nullptr,  // password: the current one
                                        nullptr,  // locale: the current one
                                        0,        // security flags
                                        nullptr,  // authority: the current domain
                                        nullptr,  // no context
                                        client.pServices.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        client.pServices.Reset();  // a warning code counts as no connection
        return false;
    }
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

}  // namespace

int QueryInstances(const wchar_t* className) {
    if (g_pWmiClient == nullptr || !g_pWmiClient->bConnected || className == nullptr) return 0;
    WmiClient& client = *g_pWmiClient;
    wchar_t diagnostic[100];

    constexpr size_t kQueryRoom = 200;
    wchar_t queryText[kQueryRoom] = L"Select * From ";
    std::wcsncat(queryText, className, kQueryRoom - std::wcslen(queryText) - 1);
    const Bstr language(L"WQL");
    const Bstr query(queryText);

    ::SysFreeString(client.bstrClass);
    client.bstrClass = ::SysAllocString(className);

    // The query returns at once; its results come through the enumerator, each step bounded.
    const Deadline deadline;
    IEnumWbemClassObject* enumerator = nullptr;
    HRESULT latest = client.pServices->ExecQuery(language, query,
                                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                                 nullptr,  // no context
                                                 &enumerator);
    FormatStepResult(diagnostic, L"Query returned 0x%x:", latest);

    // Counting pass: the last object handed back stays in hand for the path walk.
    int count = 0;
    IWbemClassObject* inHand = nullptr;
    if (enumerator != nullptr) {
        while (IWbemClassObject* object = NextObject(enumerator, deadline, latest)) {
            if (SUCCEEDED(latest)) ++count;
            if (inHand != nullptr) inHand->Release();
            inHand = object;
        }
    }

    FreeInstancePaths(client);
    if (count > 0) client.pInstancePaths = new BSTR[count]();
    FormatStepResult(diagnostic, L"Obj count returned 0x%x:", latest);
    client.nInstances = count;

    if (enumerator != nullptr) {
        enumerator->Reset();
        // Entry 0 gets the object in hand; later entries only what the enumerator gives after the reset.
        for (int i = 0; count > 0 && inHand != nullptr;) {
            if (SUCCEEDED(latest)) client.pInstancePaths[i] = InstancePath(inHand);
            inHand->Release();
            inHand = NextObject(enumerator, deadline, latest);
            if (inHand == nullptr || ++i >= count) break;
        }
        if (inHand != nullptr) inHand->Release();
        enumerator->Release();
    }
    return count;
}

void ReleaseWmiObjects() {
    if (g_pWmiClient == nullptr) return;
    g_pWmiClient->pInParams.Reset();
    g_pWmiClient->pOutParams.Reset();
    g_pWmiClient->pServices.Reset();
    g_pWmiClient->pLocator.Reset();
    g_pWmiClient->bConnected = false;
}
