// The machine's policy for USB Charging, read without writing anything.
#include "prefs/UsbChargingPolicy.h"

#include "firmware/PelloranCodes.h"

UsbChargingPolicy ReadUsbChargingPolicy() {
    UsbChargingPolicy policy;
    // HKLM\Software\Policies is shared between the 32-bit and 64-bit views of the registry ("Registry Keys Affected
    // by WOW64": shared on every 64-bit Windows), so the 32-bit program reads what a 64-bit Group Policy client
    // wrote without a view flag.
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKeyPath, 0 /* options */, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return policy;
    DWORD type = REG_NONE, data = 0, size = sizeof(data);
    const LSTATUS read = ::RegQueryValueExW(key, kPolicyValueName, nullptr /* reserved */, &type,
                                            reinterpret_cast<BYTE*>(&data), &size);
    ::RegCloseKey(key);
    if (read == ERROR_FILE_NOT_FOUND) return policy;
    policy.kind = UsbChargingPolicy::kInvalid;  // present, but perhaps not of the form asked for
    if (read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data)) return policy;
    policy.raw = data;
    if (data == PELLORAN_CTRL_OFF || data == PELLORAN_CTRL_ADAPTER || data == PELLORAN_CTRL_ADAPTER_BATTERY) {
        policy.kind = UsbChargingPolicy::kSet;
        policy.control = static_cast<int>(data);
    }
    return policy;
}
