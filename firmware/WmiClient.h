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

// Formats a step's diagnostic text (one %x for the HRESULT) and hands it to the debugger output.
void FormatStepResult(wchar_t (&buffer)[100], const wchar_t* format, HRESULT hr);

// Joins the multithreaded apartment and sets the process's COM security.
void InitComSecurity();

// Connects g_pWmiClient to the namespace; true when connected.
bool ConnectNamespace(const wchar_t* namespaceName);

// Queries the instances of the class and keeps their object paths; the number found.
int QueryInstances(const wchar_t* className);
