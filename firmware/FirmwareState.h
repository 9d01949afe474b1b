// The feature's state as the dialog and the command line read it from the firmware.
#pragma once

#include <windows.h>

class Deadline;

// One reading of the feature's state.
struct FirmwareReading {
    enum Outcome {
        kNotAvailable,        // nothing was learned: WMI could not be reached, or a step did not answer in time
        kNoManagementObject,  // connected, and the firmware's management class answered that it has no instance
        kNoStatus,            // found, but no valid status word (the call failed, or the presence bit is clear)
        kStatus,              // a valid status word
    };
    Outcome outcome = kNotAvailable;
    HRESULT hr = S_OK;  // the failed step's code: WBEM_E_TIMED_OUT for one given up, S_OK for a status without presence
    int status = 0;     // the status word; with kStatus its presence bit is set

    // The mode byte of a valid status word.
    int Mode() const;
};

// Whether a failed step's code says nothing about the firmware: the step was given up at its bound
// (WBEM_E_TIMED_OUT), or the connection to WMI is gone (the service stopped or restarted). Such a step ends
// in "not available", never in a claim that the firmware has no object or no status.
bool LearnedNothing(HRESULT hr);

// The start: connects g_pWmiClient to root\wmi, finds the firmware's management object and reads its status,
// all by the start-up's deadline.
FirmwareReading ReadFirmwareAtStart(const Deadline& startup);

// The status read again, once, by the deadline.
FirmwareReading ReadFirmwareStatus(const Deadline& deadline);

// A change made by a click: the control value sent within a call's bound and, when the firmware did not take
// it, the state read back in what the call left of the click's bound.
struct FirmwareChange {
    HRESULT sent = S_OK;      // the control call's code
    FirmwareReading readBack;  // only when the call failed
};
FirmwareChange ChangeFirmware(int controlValue);
