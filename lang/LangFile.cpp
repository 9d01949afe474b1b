// Lookups in the language file through the platform's profile reader; nothing is cached.
#include "lang/LangFile.h"

#include <cstdio>
#include <cwchar>

std::wstring DirectoryOfPath(const wchar_t* path) {
    const wchar_t* lastBackslash = std::wcsrchr(path, L'\\');
    return lastBackslash != nullptr ? std::wstring(path, static_cast<size_t>(lastBackslash - path))
                                    : std::wstring();
}

std::wstring GetModuleDir() {
    wchar_t modulePath[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    modulePath[MAX_PATH] = L'\0';
    return DirectoryOfPath(modulePath);
}

std::wstring ReadLangValue(int language, int key, const std::wstring& filePath, DWORD room) {
    wchar_t section[16] = {};
    wchar_t keyName[16] = {};
    ::_snwprintf(section, 15, L"%d", language);
    ::_snwprintf(keyName, 15, L"S%d", key);
    std::wstring value(room, L'\0');
    const DWORD length = ::GetPrivateProfileStringW(section, keyName, L"" /* no default */, &value[0],
                                                    room, filePath.c_str());
    value.resize(length < room ? length : room - 1);
    return value;
}

void AppendLangValue(std::wstring& description, int language, int key, const std::wstring& filePath) {
    if (key == 0) description += L"\r\n";
    description += ReadLangValue(language, key, filePath, kParagraphRoom);
}
