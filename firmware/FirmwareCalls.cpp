// The firmware's methods device_status and device_ctrl, executed through WMI on the found instance.
#include "firmware/FirmwareCalls.h"

#include "firmware/ComHelpers.h"
#include "firmware/PelloranCodes.h"
#include "firmware/WmiClient.h"

using Microsoft::WRL::ComPtr;

namespace {

// A failing ExecMethod is tried again 500 ms later, for at most 3 s of pauses in all.
constexpr DWORD kRetryPauseMs = 500;
constexpr int kMaxRetryPauses = 6;

// The object path the method calls address: the instance the query handed back first.
BSTR TargetPath(const WmiClient& client) {
    return client.nInstances > 0 && client.pInstancePaths != nullptr ? client.pInstancePaths[0] : nullptr;
}

// Executes the method, pausing and trying again while it fails, up to the bound.
HRESULT ExecuteWithRetry(WmiClient& client, BSTR methodName, BSTR objectPath) {
    wchar_t diagnostic[100];
    HRESULT hr;
    for (int pauses = 0;; ++pauses) {
        hr = client.pServices->ExecMethod(objectPath, methodName,
                                          0,        // flags: a synchronous call
                                          nullptr,  // no context
                                          client.pInParams.Get(),                      // in-parameters
                                          client.pOutParams.ReleaseAndGetAddressOf(),  // out-parameters
                                          nullptr);                                    // no call-result object
        FormatStepResult(diagnostic, L"ExecMethod returned 0x%x:", hr);
        if (SUCCEEDED(hr) || pauses == kMaxRetryPauses) return hr;
        ::Sleep(kRetryPauseMs);
    }
}

// The status word in a VARIANT: any integer type that holds the 32 bits without loss.
bool StatusWordFrom(const VARIANT& value, int& statusWord) {
    switch (V_VT(&value)) {
    case VT_I4: statusWord = V_I4(&value); return true;
    case VT_INT: statusWord = V_INT(&value); return true;
    case VT_UI4: statusWord = static_cast<int>(V_UI4(&value)); return true;
    case VT_UINT: statusWord = static_cast<int>(V_UINT(&value)); return true;
    case VT_I2: statusWord = V_I2(&value); return true;
    case VT_UI2: statusWord = V_UI2(&value); return true;
    case VT_I1: statusWord = V_I1(&value); return true;
    case VT_UI1: statusWord = V_UI1(&value); return true;
    case VT_I8:
        if (V_I8(&value) < INT_MIN || V_I8(&value) > static_cast<LONGLONG>(UINT_MAX)) return false;
        statusWord = static_cast<int>(V_I8(&value));
        return true;
    case VT_UI8:
        if (V_UI8(&value) > UINT_MAX) return false;
        statusWord = static_cast<int>(V_UI8(&value));
        return true;
    default:
        return false;  // empty, null, text, floating point, objects: no status word
    }
}

}  // namespace

void AddParam(const wchar_t* name, const VARIANT& value) {
    if (g_pWmiClient != nullptr) g_pWmiClient->params.emplace_front(name, value);
}

void ClearParams() {
    if (g_pWmiClient != nullptr) g_pWmiClient->params.clear();
}

HRESULT CallMethod(BSTR methodName, BSTR objectPath) {
    if (g_pWmiClient == nullptr || g_pWmiClient->pServices == nullptr) {
        ClearParams();
        return WBEM_E_INVALID_OPERATION;
    }
    WmiClient& client = *g_pWmiClient;
    wchar_t diagnostic[100];
    // The out-parameters are this call's or none: a call that ends before ExecMethod, even with a
    // success code, must not leave the previous call's answer to be read as its own.
    client.pOutParams.Reset();
    ComPtr<IWbemClassObject> classDefinition;
    ComPtr<IWbemClassObject> inDefinition;

    HRESULT hr = client.pServices->GetObject(client.bstrClass, 0 /* flags */, nullptr /* no context */,
                                             classDefinition.GetAddressOf(), nullptr /* no call result */);
    FormatStepResult(diagnostic, L"GetObject returned 0x%x:", hr);
    if (hr != S_OK) goto done;

    hr = classDefinition->GetMethod(methodName, 0 /* flags */, inDefinition.GetAddressOf(),
                                    nullptr /* no out definition */);
    FormatStepResult(diagnostic, L"GetObject returned 0x%x:", hr);
    if (hr != S_OK) goto done;

    if (inDefinition != nullptr) {
        hr = inDefinition->SpawnInstance(0 /* flags */, client.pInParams.ReleaseAndGetAddressOf());
        FormatStepResult(diagnostic, L"SpawnInstance returned 0x%x:", hr);
        if (hr != S_OK) goto done;
        for (WmiParam& param : client.params)
            client.pInParams->Put(param.name, 0 /* flags */, &param.value, 0 /* the VARIANT's own type */);
    } else {
        client.pInParams.Reset();  // a method without in-parameters gets none, not the last call's
    }

    hr = ExecuteWithRetry(client, methodName, objectPath);

done:
    ClearParams();
    return hr;
}

HRESULT GetDeviceStatus(int& statusWord) {
    const Bstr method(L"device_status");
    AddParam(L"device_id", Variant(PELLORAN_DEVICE_ID).get());
    HRESULT hr = CallMethod(method, g_pWmiClient != nullptr ? TargetPath(*g_pWmiClient) : nullptr);
    if (FAILED(hr)) return hr;

    Variant out;
    int word = 0;
    if (g_pWmiClient->pOutParams == nullptr ||
        FAILED(g_pWmiClient->pOutParams->Get(L"ctrl_param", 0 /* flags */, out.Receive(),
                                             nullptr /* no type */, nullptr /* no flavour */)) ||
        !StatusWordFrom(out.get(), word))
        return WBEM_E_TYPE_MISMATCH;  // no usable status word is a failed read, never a success
    statusWord = word;
    return hr;
}

HRESULT SetDeviceControl(int controlValue) {
    const Bstr method(L"device_ctrl");
    AddParam(L"device_id", Variant(PELLORAN_DEVICE_ID).get());
    AddParam(L"ctrl_param", Variant(controlValue).get());
    return CallMethod(method, g_pWmiClient != nullptr ? TargetPath(*g_pWmiClient) : nullptr);
}
