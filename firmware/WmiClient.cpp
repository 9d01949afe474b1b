// COM set-up, the connection to the namespace and the instance query of the firmware's class.
#include "firmware/WmiClient.h"

#include "firmware/ComHelpers.h"

#include <cstdio>
#include <cwchar>

WmiClient* g_pWmiClient = nullptr;

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

// Hands back the next object of the enumerator (or null) and records the call's HRESULT.
IWbemClassObject* NextObject(IEnumWbemClassObject* enumerator, HRESULT& latest) {
    IWbemClassObject* object = nullptr;
    ULONG returned = 0;
    latest = enumerator->Next(WBEM_INFINITE, 1 /* one object */, &object, &returned);
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
        while (IWbemClassObject* object = NextObject(enumerator, latest)) {
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
            inHand = NextObject(enumerator, latest);
            if (inHand == nullptr || ++i >= count) break;
        }
        if (inHand != nullptr) inHand->Release();
        enumerator->Release();
    }
    return count;
}
