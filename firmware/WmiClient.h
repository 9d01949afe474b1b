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
    Microsoft::WRL::ComPtr<IWbemServices> pServices;  // the namespace, usable in this thread's apartment
    Microsoft::WRL::ComPtr<IWbemClassObject> pOutParams;  // out-parameters of the latest call
    Microsoft::WRL::ComPtr<IWbemClassObject> pInParams;   // in-parameters of the latest call
    int nInstances = 0;
    BSTR* pInstancePaths = nullptr;  // nInstances entries; entry 0 is the path the calls address
    BSTR bstrClass = nullptr;        // class of the latest query
    std::forward_list<WmiParam> params;  // queued for the next method call, newest first
};

// The one client of the process; null until the settings dialog creates it.
extern WmiClient* g_pWmiClient;

// The longest that one firmware call (a method call with its retries) takes. A firmware that has not
// answered by then has failed.
constexpr DWORD kFirmwareBoundMs = 3000;

// The longest that a click holds the dialog: its call and, when the firmware did not take the change, the
// read-back of the state, which gets what the call left. Windows marks a window that has handled no message
// for 5 s as not responding and offers to close it, which would end the program before it stores the mode.
constexpr DWORD kClickBoundMs = 4500;

// The longest that the start-up's firmware steps (the connection, the query, the status and the control
// value sent back) take together. On a cold machine the first of them may have to start WMI's provider
// host and load the firmware's provider, which can take seconds; the dialog is not on screen yet, and
// Windows marks only a visible window as not responding.
constexpr DWORD kStartupBoundMs = 10000;

// The moment by which firmware steps must be over. Whoever makes one hands it down to the steps that share
// it: the start-up's to its connection, query and calls, a click's to its call and read-back.
class Deadline {
public:
    explicit Deadline(DWORD boundMs);
    // The same moment, for a step timed from now.
    Deadline StartingNow() const;
    // This moment, or boundMs from now when that comes first; a step timed from now.
    Deadline Sooner(DWORD boundMs) const;
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

// Waits, until the deadline, for the answer of a call made with WBEM_FLAG_RETURN_IMMEDIATELY, its call
// result given the proxy security first. The call's own HRESULT, or WBEM_E_TIMED_OUT with gaveUp set when
// the answer did not come in time.
HRESULT AwaitCallResult(IWbemCallResult* pending, const Deadline& deadline, IWbemClassObject** result, bool& gaveUp);

// Formats a step's diagnostic text (one %x for the HRESULT) and hands it to the debugger output.
void FormatStepResult(wchar_t (&buffer)[100], const wchar_t* format, HRESULT hr);

// Joins the multithreaded apartment and sets the process's COM security. True when this call joined COM
// and must be balanced by CoUninitialize; false when it could not, or when the thread already was in
// another apartment (COM is usable then, as that apartment).
bool InitComSecurity();

// Gives a WMI proxy the security that WMI asks of its clients: packet privacy and impersonation. An
// object that is no proxy, and any failure, leave it as it was.
void SetProxySecurity(IUnknown* proxy);

// Connects g_pWmiClient to the namespace by the deadline; true when connected. A connection that answers
// later is released, never used. answer, when given, receives the connection's code (WBEM_E_TIMED_OUT for
// one given up).
bool ConnectNamespace(const wchar_t* namespaceName, const Deadline& deadline, HRESULT* answer = nullptr);

// Queries the instances of the class and keeps their object paths; the number found. The first instance
// may take until the deadline; once one is in hand, the rest of the enumeration has a call's bound (within
// the deadline). A step that does not answer in time ends the enumeration as a failed step
// (WBEM_E_TIMED_OUT). latest, when given, receives the latest enumeration result.
int QueryInstances(const wchar_t* className, const Deadline& deadline, HRESULT* latest = nullptr);

// Lets go of every COM object the client holds (before COM ends); the record itself stays.
void ReleaseWmiObjects();
