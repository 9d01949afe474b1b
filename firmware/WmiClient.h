// The process's one WMI connection: COM set-up, the namespace connection and the instance query.
#pragma once

#include <windows.h>
#include <wbemidl.h>
#include <wrl/client.h>

#include <forward_list>

// One queued method parameter; the entry owns its VARIANT and not its name.
struct WmiParam {
    WmiParam(const wchar_t* paramName, const VARIANT& paramValue);
    ~WmiParam();
    WmiParam(const WmiParam&) = delete;
    WmiParam& operator=(const WmiParam&) = delete;

    const wchar_t* name;
    VARIANT value;
};

struct WmiClient {
    WmiClient() = default;
    WmiClient(const WmiClient&) = delete;
    WmiClient& operator=(const WmiClient&) = delete;
    ~WmiClient();

    bool bConnected = false;
    Microsoft::WRL::ComPtr<IWbemLocator> pLocator;
    Microsoft::WRL::ComPtr<IWbemServices> pServices;
    Microsoft::WRL::ComPtr<IWbemClassObject> pOutParams;  // out-parameters of the latest call
    Microsoft::WRL::ComPtr<IWbemClassObject> pInParams;   // in-parameters of the latest call
    int nInstances = 0;
    BSTR* pInstancePaths = nullptr;  // nInstances entries; entry 0 is the path the calls address
    BSTR bstrClass = nullptr;        // class of the latest query
    std::forward_list<WmiParam> params;  // queued for the next method call, newest first
};

// The one client of the process; null until the settings dialog creates it.
extern WmiClient* g_pWmiClient;

// The longest that one firmware step blocks the dialog: a query with its enumeration, or a method call
// with its retries. A firmware that has not answered by then has failed.
constexpr DWORD kFirmwareBoundMs = 3000;

// The moment by which a firmware step must be over: its own bound from now, or the end of the time limit
// in force when that comes first.
class Deadline {
public:
    explicit Deadline(DWORD boundMs = kFirmwareBoundMs);
    // Milliseconds left until the moment; 0 once it has passed.
    DWORD Left() const;
    // Whether a step that starts offsetMs after the step began still starts in time.
    bool Admits(DWORD offsetMs) const { return m_start + offsetMs <= m_end; }
    // Pauses until offsetMs after the step began (at once when that is past).
    void PauseUntil(DWORD offsetMs) const;

private:
    ULONGLONG m_start;
    ULONGLONG m_end;
};

// While it lives, all the firmware steps made together end within limitMs of its making (the dialog's
// start-up). Limits do not nest.
class FirmwareTimeLimit {
public:
    explicit FirmwareTimeLimit(DWORD limitMs);
    ~FirmwareTimeLimit();
    FirmwareTimeLimit(const FirmwareTimeLimit&) = delete;
    FirmwareTimeLimit& operator=(const FirmwareTimeLimit&) = delete;
};

// Waits, until the deadline, for the answer of a call made with WBEM_FLAG_RETURN_IMMEDIATELY. The
// call's own HRESULT, or WBEM_E_TIMED_OUT with gaveUp set when the answer did not come in time.
HRESULT AwaitCallResult(IWbemCallResult* pending, const Deadline& deadline, IWbemClassObject** result, bool& gaveUp);

// Formats a step's diagnostic text (one %x for the HRESULT) and hands it to the debugger output.
void FormatStepResult(wchar_t (&buffer)[100], const wchar_t* format, HRESULT hr);

// Joins the multithreaded apartment and sets the process's COM security.
void InitComSecurity();

// Connects g_pWmiClient to the namespace; true when connected.
bool ConnectNamespace(const wchar_t* namespaceName);

// Queries the instances of the class and keeps their object paths; the number found. An enumeration
// step that does not answer within the bound ends the enumeration as a failed step.
int QueryInstances(const wchar_t* className);

// Lets go of every COM object the client holds (before COM ends); the record itself stays.
void ReleaseWmiObjects();
