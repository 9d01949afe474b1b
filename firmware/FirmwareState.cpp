// The feature's state read from the firmware: the start's connection, query and status, and a status read again.
#include "firmware/FirmwareState.h"

#include "firmware/FirmwareCalls.h"
#include "firmware/PelloranCodes.h"
#include "firmware/WmiClient.h"

int FirmwareReading::Mode() const { return status & PELLORAN_STATUS_MODE_MASK; }

bool LearnedNothing(HRESULT hr) {
    // Given up at the bound (or the provider's own time-out), or the WMI service stopped or restarted.
    return hr == static_cast<HRESULT>(WBEM_E_TIMED_OUT) || ConnectionIsGone(hr);
}

FirmwareReading ReadFirmwareAtStart(const Deadline& startup) {
    FirmwareReading reading;
    if (!ConnectNamespace(L"root\\wmi", startup, &reading.hr)) return reading;
    if (QueryInstances(L"TolvekManagement", startup, &reading.hr) == 0) {
        // An enumeration that ended, or a query that failed, is the firmware's answer; one given up is not.
        if (!LearnedNothing(reading.hr)) reading.outcome = FirmwareReading::kNoManagementObject;
        return reading;
    }
    return ReadFirmwareStatus(startup);
}

FirmwareReading ReadFirmwareStatus(const Deadline& deadline) {
    FirmwareReading reading;
    reading.outcome = FirmwareReading::kNoStatus;
    reading.hr = GetDeviceStatus(reading.status, deadline);
    if (SUCCEEDED(reading.hr) && (reading.status & PELLORAN_STATUS_PRESENT) != 0) {
        reading.outcome = FirmwareReading::kStatus;
        reading.hr = S_OK;
    } else if (SUCCEEDED(reading.hr)) {
        reading.hr = S_OK;  // a word without the presence bit: no status, though the call went through
    } else if (LearnedNothing(reading.hr)) {
        reading.outcome = FirmwareReading::kNotAvailable;
    }
    return reading;
}

FirmwareChange ChangeFirmware(int controlValue) {
    const Deadline click(kClickBoundMs);
    FirmwareChange change;
    change.sent = SetDeviceControl(controlValue, click.Sooner(kFirmwareBoundMs));
    if (FAILED(change.sent)) change.readBack = ReadFirmwareStatus(click.Sooner(kFirmwareBoundMs));
    return change;
}
