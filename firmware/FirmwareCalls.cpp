// The firmware's methods device_status and device_ctrl, executed through WMI on the found instance.
#include "firmware/FirmwareCalls.h"

#include "firmware/ComHelpers.h"
#include "firmware/PelloranCodes.h"
#include "firmware/WmiClient.h"

#include <climits>

using Microsoft::WRL::ComPtr;

namespace {

// Failures that may pass: the call was cancelled or timed out, WMI or the provider was too busy, or a call
// on the way to the provider failed. Tried again. Every other failure is final and ends the call at once:
// the method, class, object, parameter or query is wrong or unknown (WBEM_E_NOT_FOUND, WBEM_E_INVALID_*),
// access is denied (WBEM_E_ACCESS_DENIED, E_ACCESSDENIED), a type does not match (WBEM_E_TYPE_MISMATCH),
// the operation is not supported, and any code not named here. So is a dead connection (kConnectionGone).
constexpr HRESULT kFailuresThatMayPass[] = {
    static_cast<HRESULT>(WBEM_E_FAILED),            // the provider failed without saying why (busy firmware)
    static_cast<HRESULT>(WBEM_E_CALL_CANCELLED),
    static_cast<HRESULT>(WBEM_E_TIMED_OUT),
    static_cast<HRESULT>(WBEM_E_SERVER_TOO_BUSY),
    static_cast<HRESULT>(WBEM_E_TRANSPORT_FAILURE),
    RPC_E_CALL_REJECTED,
    RPC_E_CALL_CANCELED,
    RPC_E_SERVERCALL_RETRYLATER,
    RPC_E_SERVERCALL_REJECTED,
    RPC_E_TIMEOUT,
    HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY),
    HRESULT_FROM_WIN32(RPC_S_CALL_FAILED),
    HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE),
};

// A dead connection: the WMI service stopped or restarted, or COM's channel to it broke. The proxy in hand
// cannot succeed again, however long it is tried; only a new connection could.
constexpr HRESULT kConnectionGone[] = {
    RPC_E_DISCONNECTED,
    RPC_E_SERVER_DIED,
    RPC_E_SERVER_DIED_DNE,
    HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE),
    CO_E_SERVER_STOPPING,
    static_cast<HRESULT>(WBEM_E_SHUTTING_DOWN),
};

// The object path the method calls address: the last instance that the query's counting pass handed back
// (with a forward-only enumerator, the only one whose path is read).
BSTR TargetPath(const WmiClient& client) {
    return client.nInstances > 0 && client.pInstancePaths != nullptr ? client.pInstancePaths[0] : nullptr;
}

// The attempts of one call, shared by its steps: a step that fails with a failure that may pass is tried
// again while attempts are left and the next one starts by the deadline. Attempts are timed from the start
// of the call, so a slow machine does not lose one. An answer that did not come in time is given up, never
// tried again: its time is spent.
class Attempts {
public:
    explicit Attempts(const Deadline& deadline) : m_deadline(deadline) {}

    // Whether the step that ended with hr is tried again; pauses until the next attempt when it is.
    bool Again(HRESULT hr, bool gaveUp) {
        const DWORD nextAttempt = (m_pauses + 1) * kRetryPauseMs;
        if (SUCCEEDED(hr) || gaveUp || !FailureMayPass(hr) || m_pauses == kMaxRetryPauses || !m_deadline.Admits(nextAttempt))
            return false;
        m_deadline.PauseUntil(nextAttempt);
        ++m_pauses;
        return true;
    }

private:
    const Deadline& m_deadline;
    int m_pauses = 0;
};

// The class definition, fetched semi-synchronously so that a WMI that never answers cannot hold the dialog.
HRESULT GetClassDefinition(WmiClient& client, const Deadline& deadline, Attempts& attempts, IWbemClassObject** definition) {
    wchar_t diagnostic[100];
    HRESULT hr;
    bool gaveUp;
    do {
        ComPtr<IWbemCallResult> pending;
        gaveUp = false;
        hr = client.pServices->GetObject(client.bstrClass, WBEM_FLAG_RETURN_IMMEDIATELY,
                                         nullptr,  // no context
                                         nullptr,  // the definition comes through the call result
                                         pending.GetAddressOf());
        if (SUCCEEDED(hr)) hr = AwaitCallResult(pending.Get(), deadline, definition, gaveUp);
        FormatStepResult(diagnostic, L"GetObject returned 0x%x:", hr);
    } while (attempts.Again(hr, gaveUp));
    return hr;
}

// One semi-synchronous ExecMethod, its answer awaited until the deadline.
HRESULT ExecuteOnce(WmiClient& client, BSTR methodName, BSTR objectPath, const Deadline& deadline, bool& gaveUp) {
    ComPtr<IWbemCallResult> pending;
    client.pOutParams.Reset();
    gaveUp = false;
    HRESULT hr = client.pServices->ExecMethod(objectPath, methodName, WBEM_FLAG_RETURN_IMMEDIATELY,
                                              nullptr,                 // no context
                                              client.pInParams.Get(),  // in-parameters
                                              nullptr,  // the out-parameters come through the call result
                                              pending.GetAddressOf());
    if (SUCCEEDED(hr)) hr = AwaitCallResult(pending.Get(), deadline, client.pOutParams.GetAddressOf(), gaveUp);
    return hr;
}

// Executes the method, trying again while the call's attempts allow.
HRESULT ExecuteWithRetry(WmiClient& client, BSTR methodName, BSTR objectPath, const Deadline& deadline, Attempts& attempts) {
    wchar_t diagnostic[100];
    HRESULT hr;
    bool gaveUp;
    do {
        hr = ExecuteOnce(client, methodName, objectPath, deadline, gaveUp);
        FormatStepResult(diagnostic, L"ExecMethod returned 0x%x:", hr);
    } while (attempts.Again(hr, gaveUp));
    return hr;
}

// The status word in a VARIANT: any integer type, read as the unsigned bit pattern it carries, never
// sign-extended (a negative VT_I1 or VT_I2 must not fake the presence bit); a value whose pattern does not
// fit in 32 bits is no status word.
bool StatusWordFrom(const VARIANT& value, int& statusWord) {
    switch (V_VT(&value)) {
    case VT_I4: statusWord = V_I4(&value); return true;
    case VT_INT: statusWord = V_INT(&value); return true;
    case VT_UI4: statusWord = static_cast<int>(V_UI4(&value)); return true;
    case VT_UINT: statusWord = static_cast<int>(V_UINT(&value)); return true;
    case VT_I2: statusWord = static_cast<USHORT>(V_I2(&value)); return true;
    case VT_UI2: statusWord = V_UI2(&value); return true;
    case VT_I1: statusWord = static_cast<BYTE>(V_I1(&value)); return true;
    case VT_UI1: statusWord = V_UI1(&value); return true;
    case VT_I8:
        if (V_I8(&value) < 0 || V_I8(&value) > static_cast<LONGLONG>(UINT_MAX)) return false;
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

bool FailureMayPass(HRESULT hr) {
    for (HRESULT transient : kFailuresThatMayPass)
        if (hr == transient) return true;
    return false;
}

bool ConnectionIsGone(HRESULT hr) {
    for (HRESULT gone : kConnectionGone)
        if (hr == gone) return true;
    return false;
}

void AddParam(const wchar_t* name, const VARIANT& value) {
    if (g_pWmiClient != nullptr) g_pWmiClient->params.emplace_front(name, value);
}

void ClearParams() {
    if (g_pWmiClient != nullptr) g_pWmiClient->params.clear();
}

HRESULT CallMethod(BSTR methodName, BSTR objectPath, const Deadline& callerDeadline) {
    if (g_pWmiClient == nullptr || g_pWmiClient->pServices == nullptr) {
        ClearParams();
        return WBEM_E_INVALID_OPERATION;
    }
    WmiClient& client = *g_pWmiClient;
    wchar_t diagnostic[100];
    const Deadline deadline = callerDeadline.StartingNow();  // attempts are timed from the call's start
    Attempts attempts(deadline);  // the whole call's, its steps' retries included
    // The out-parameters are this call's or none: a call that ends before ExecMethod, even with a
    // success code, must not leave the previous call's answer to be read as its own.
    client.pOutParams.Reset();
    ComPtr<IWbemClassObject> classDefinition;
    ComPtr<IWbemClassObject> inDefinition;

    HRESULT hr = GetClassDefinition(client, deadline, attempts, classDefinition.GetAddressOf());
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

    hr = ExecuteWithRetry(client, methodName, objectPath, deadline, attempts);

done:
    ClearParams();
    return hr;
}

HRESULT GetDeviceStatus(int& statusWord, const Deadline& deadline) {
    const Bstr method(L"device_status");
    AddParam(L"device_id", Variant(PELLORAN_DEVICE_ID).get());
    HRESULT hr = CallMethod(method, g_pWmiClient != nullptr ? TargetPath(*g_pWmiClient) : nullptr, deadline);
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

HRESULT SetDeviceControl(int controlValue, const Deadline& deadline) {
    const Bstr method(L"device_ctrl");
    AddParam(L"device_id", Variant(PELLORAN_DEVICE_ID).get());
    AddParam(L"ctrl_param", Variant(controlValue).get());
    return CallMethod(method, g_pWmiClient != nullptr ? TargetPath(*g_pWmiClient) : nullptr, deadline);
}
