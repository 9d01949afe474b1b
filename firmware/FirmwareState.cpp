// The feature's state read from the firmware: the start's connection, query and status, and a status read again.
#include "firmware/FirmwareState.h"

#include "firmware/FirmwareCalls.h"
#include "firmware/PelloranCodes.h"
#include "firmware/WmiClient.h"

int FirmwareReading::Mode() const { return status & PELLORAN_STATUS_MODE_MASK; }

FirmwareReading ReadFirmwareAtStart() {
    FirmwareReading reading;
    if (!ConnectNamespace(L"root\\wmi", &reading.hr)) return reading;
    if (QueryInstances(L"TolvekManagement", &reading.hr) == 0) {
        reading.outcome = FirmwareReading::kNoManagementObject;
        return reading;
    }
    return ReadFirmwareStatus();
}

FirmwareReading ReadFirmwareStatus() {
    FirmwareReading reading;
    reading.outcome = FirmwareReading::kNoStatus;
    reading.hr = GetDeviceStatus(reading.status);
    if (SUCCEEDED(reading.hr) && (reading.status & PELLORAN_STATUS_PRESENT) != 0) {
        reading.outcome = FirmwareReading::kStatus;
        reading.hr = S_OK;
    } else if (SUCCEEDED(reading.hr)) {
        reading.hr = S_OK;  // a word without the presence bit: no status, though the call went through
    }
    return reading;
}
