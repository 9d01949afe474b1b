// The stored mode: one REG_DWORD under the current user's key, every handle closed before return.
#include "prefs/ModePreference.h"

#include <windows.h>

namespace {

constexpr wchar_t kKeyPath[] = L"Software\\Tolvek\\Quenby";
constexpr wchar_t kValueName[] = L"PelloranMode";
constexpr DWORD kDefaultMode = 1;  // "Adapter Mode", stored when nothing readable is there

LSTATUS WriteMode(HKEY key, DWORD mode) {
    return ::RegSetValueExW(key, kValueName, 0 /* reserved */, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&mode), sizeof(mode));
}

// The stored number: data of up to 4 bytes of any type, read as a little-endian number, a shorter value
// zero-extended; false for anything that does not fit, or no value at all.
bool QueryMode(HKEY key, DWORD& mode) {
    BYTE data[sizeof(DWORD)] = {};
    DWORD size = sizeof(data);
    if (::RegQueryValueExW(key, kValueName, nullptr /* reserved */, nullptr /* type: not asked */, data,
                           &size) != ERROR_SUCCESS)
        return false;
    mode = 0;
    for (DWORD i = size; i-- > 0;) mode = (mode << 8) | data[i];
    return true;
}

// The stored number; a value that cannot be read is replaced by the default.
DWORD ReadMode(HKEY key) {
    DWORD mode = 0;
    if (QueryMode(key, mode)) return mode;
    WriteMode(key, kDefaultMode);  // a failure here is silent
    return kDefaultMode;
}

}  // namespace

void AccessModePreference(int operation, int& value) {
    HKEY root = nullptr;
    if (::RegOpenCurrentUser(KEY_ALL_ACCESS, &root) != ERROR_SUCCESS) return;

    HKEY key = nullptr;
    if (::RegCreateKeyExW(root, kKeyPath, 0 /* reserved */, nullptr /* no class */, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr /* default security */, &key,
                          nullptr /* created or opened: either will do */) == ERROR_SUCCESS) {
        if (operation == MODE_PREFERENCE_READ) {
            value = static_cast<int>(ReadMode(key));
        } else if (operation == MODE_PREFERENCE_WRITE) {
            WriteMode(key, static_cast<DWORD>(value));
        }
        ::RegCloseKey(key);
    }
    ::RegCloseKey(root);
}

bool PeekModePreference(int& value) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0 /* options */, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD mode = 0;
    const bool read = QueryMode(key, mode);
    ::RegCloseKey(key);
    if (read) value = static_cast<int>(mode);
    return read;
}
