// The user's stored mode in the registry, read, written and made impossible to store, as a test sets it up.
#pragma once

#include "prefs/UsbChargingPolicy.h"

#include <windows.h>

#include <string>

namespace testsupport {

// The stored mode: its registry type and bytes (REG_NONE: no value), under the key the tool keeps it in.
struct Stored {
    DWORD type;
    std::string bytes;
    bool operator==(const Stored& other) const { return type == other.type && bytes == other.bytes; }
};
constexpr wchar_t kStoredKey[] = L"Software\\Tolvek\\Quenby", kStoredValue[] = L"PelloranMode";

inline Stored Dword(DWORD value) { return {REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value))}; }

inline Stored ReadStored() {
    Stored stored{REG_NONE, std::string(64, '\0')};
    DWORD size = 64;
    if (::RegGetValueW(HKEY_CURRENT_USER, kStoredKey, kStoredValue, RRF_RT_ANY | RRF_NOEXPAND, &stored.type,
                       &stored.bytes[0], &size) != ERROR_SUCCESS)
        return {REG_NONE, ""};
    stored.bytes.resize(size);
    return stored;
}

// Stores a value (REG_NONE: removes the key).
inline void Store(const Stored& value) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kStoredKey);
    if (value.type != REG_NONE)
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kStoredKey, kStoredValue, value.type, value.bytes.data(), DWORD(value.bytes.size()));
}

// Removes the key's parent, and with blocked makes it anew volatile: no lasting key can be created below it.
inline void BlockStoredKey(bool blocked) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tolvek");
    HKEY parent = nullptr;
    if (blocked && ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tolvek", 0, nullptr, REG_OPTION_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &parent, nullptr) == ERROR_SUCCESS)
        ::RegCloseKey(parent);
}

// Sets the machine's policy value (REG_NONE: removes it) as a 64-bit Group Policy client writes it: through the 64-bit
// view of the registry, which 32-bit Windows ignores.
inline void StorePolicy(const Stored& value) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    if (value.type == REG_NONE) ::RegDeleteValueW(key, kPolicyValueName);
    else ::RegSetValueExW(key, kPolicyValueName, 0, value.type, reinterpret_cast<const BYTE*>(value.bytes.data()), DWORD(value.bytes.size()));
    ::RegCloseKey(key);
}

}  // namespace testsupport
