// The machine's policy for USB Charging, as Group Policy or a device management service writes it: one REG_DWORD
// under HKLM\Software\Policies that the dialog and the command line honour and a user cannot override.
#pragma once

#include <windows.h>

// Where the policy lives, named once for the reader, the tests and the administrative template's test.
constexpr wchar_t kPolicyKeyPath[] = L"Software\\Policies\\Tolvek\\Quenby";
constexpr wchar_t kPolicyValueName[] = L"PelloranUsbCharging";

// What the machine's policy asks for.
struct UsbChargingPolicy {
    enum Kind {
        kNotConfigured,  // no value: everything behaves as without a policy
        kInvalid,        // a value of another type or number: behaves as not configured, and is said so
        kSet,            // a REG_DWORD of 0, 1 or 3: the state the feature must be in
    };
    Kind kind = kNotConfigured;
    DWORD raw = 0;     // the number read, for the messages (with kInvalid, 0 when the value is no REG_DWORD)
    int control = 0;   // with kSet: the control value of the state asked for (off, adapter, adapter + battery)

    bool IsSet() const { return kind == kSet; }
};

// Reads the policy from HKEY_LOCAL_MACHINE; a key or value that cannot be read counts as not configured.
UsbChargingPolicy ReadUsbChargingPolicy();
