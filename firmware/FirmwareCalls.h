// Calls of the firmware's methods on the instance that the WMI client found.
#pragma once

#include <windows.h>
#include <oleauto.h>

class Deadline;

// A failing step of a call (the class definition's GetObject, the ExecMethod) is tried again, attempts
// starting 500 ms apart from the call's start, six retries at most in all (so seven attempt times), while the
// next still starts by the call's deadline, but only while the failure is one that may pass.
constexpr DWORD kRetryPauseMs = 500;
constexpr int kMaxRetryPauses = 6;

// Whether a call failed because the connection to WMI is gone (the service stopped or restarted): such a
// call ends at once, never tried again, and no later call on the same connection can succeed.
bool ConnectionIsGone(HRESULT hr);

// Whether a failure may pass (the call was cancelled or timed out, WMI or the provider was too busy): a call
// that fails so is tried again while its attempts and its deadline allow.
bool FailureMayPass(HRESULT hr);

// Queues a parameter at the front of the client's list; the list keeps its own copy of the value.
void AddParam(const wchar_t* name, const VARIANT& value);

// Clears every queued parameter's value and empties the list.
void ClearParams();

// Executes a method of the queried class on the object path with the queued parameters, over by the
// deadline, retries included.
HRESULT CallMethod(BSTR methodName, BSTR objectPath, const Deadline& deadline);

// Reads the feature's status word by the deadline; writes statusWord only when the firmware handed back one.
HRESULT GetDeviceStatus(int& statusWord, const Deadline& deadline);

// Sends one control value (off, adapter, adapter + battery) to the feature by the deadline.
HRESULT SetDeviceControl(int controlValue, const Deadline& deadline);
