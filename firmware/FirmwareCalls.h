// Calls of the firmware's methods on the instance that the WMI client found.
#pragma once

#include <windows.h>
#include <oleauto.h>

// Whether a call failed because the connection to WMI is gone (the service stopped or restarted): such a
// call ends at once, never tried again, and no later call on the same connection can succeed.
bool ConnectionIsGone(HRESULT hr);

// Queues a parameter at the front of the client's list; the list keeps its own copy of the value.
void AddParam(const wchar_t* name, const VARIANT& value);

// Clears every queued parameter's value and empties the list.
void ClearParams();

// Executes a method of the queried class on the object path with the queued parameters.
HRESULT CallMethod(BSTR methodName, BSTR objectPath);

// Reads the feature's status word; writes statusWord only when the firmware handed back one.
HRESULT GetDeviceStatus(int& statusWord);

// Sends one control value (off, adapter, adapter + battery) to the feature.
HRESULT SetDeviceControl(int controlValue);
