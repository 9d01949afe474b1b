// The feature's state as the dialog and the command line read it from the firmware.
#pragma once

#include <windows.h>

// One reading of the feature's state.
struct FirmwareReading {
    enum Outcome {
        kNotConnected,        // WMI could not be reached, or did not answer in time
        kNoManagementObject,  // connected, but the firmware's management class has no instance
        kNoStatus,            // found, but no valid status word (the call failed, or the presence bit is clear)
        kStatus,              // a valid status word
    };
    Outcome outcome = kNotConnected;
    HRESULT hr = S_OK;  // the failed step's code: WBEM_E_TIMED_OUT for one given up, S_OK for a status without presence
    int status = 0;     // the status word; with kStatus its presence bit is set

    // The mode byte of a valid status word.
    int Mode() const;
};

// The start: connects g_pWmiClient to root\wmi, finds the firmware's management object and reads its status. Made
// under the start-up's time limit (FirmwareTimeLimit), which the caller holds.
FirmwareReading ReadFirmwareAtStart();

// The status read again, once, within the bound of the time limit in force or a click's.
FirmwareReading ReadFirmwareStatus();
