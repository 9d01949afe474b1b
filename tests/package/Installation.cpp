#include "tests/package/Installation.h"

#include <knownfolders.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <algorithm>

namespace installation {

namespace {

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct HandleCloser {
    HANDLE handle;
    ~HandleCloser() {
        if (handle != nullptr) ::CloseHandle(handle);
    }
};

void AddFiles(const std::wstring& folder, const std::wstring& skip, std::set<std::wstring>& into) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (_wcsicmp(path.c_str(), skip.c_str()) == 0) continue;
        into.insert(path);
        // Wine links some profile folders to the Unix home: those are not walked.
        const DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            AddFiles(path, skip, into);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

void AddKeys(HKEY root, const std::wstring& rootName, const std::wstring& path, REGSAM view,
             std::set<std::wstring>& into) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    into.insert(rootName + L"\\" + path);
    wchar_t name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD length = 16384;
        if (::RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        into.insert(rootName + L"\\" + path + L" [" + name + L"]");
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        // Of the class registrations (two thirds of the registry, none of them ours) only Windows
        // Installer's own records count.
        if (_wcsicmp(path.c_str(), L"Software\\Classes") != 0 || _wcsicmp(name, L"Installer") == 0)
            children.push_back(name);
    }
    ::RegCloseKey(key);
    for (const std::wstring& child : children) AddKeys(root, rootName, path + L"\\" + child, view, into);
}

std::wstring ReadString(HKEY key, const wchar_t* name) {
    wchar_t value[2048] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return L"";
    return value;
}

}  // namespace

DWORD RunToCompletion(const std::wstring& commandLine, DWORD timeoutMs) {
    HandleCloser job{::CreateJobObjectW(nullptr, nullptr)};
    if (job.handle == nullptr) return STILL_ACTIVE;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    // Suspended until it is in the job, so that every process it starts is in the job too.
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr /* ours */,
                          nullptr /* our folder */, &startup, &process))
        return STILL_ACTIVE;
    HandleCloser processHandle{process.hProcess};
    HandleCloser threadHandle{process.hThread};
    ::AssignProcessToJobObject(job.handle, process.hProcess);
    ::ResumeThread(process.hThread);

    const DWORD start = ::GetTickCount();
    bool ended = false;
    do {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        ended = ::WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0 &&
                ::QueryInformationJobObject(job.handle, JobObjectBasicAccountingInformation, &accounting,
                                            sizeof(accounting), nullptr) &&
                accounting.ActiveProcesses == 0;
    } while (!ended && ::GetTickCount() - start < timeoutMs);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process.hProcess, &code);
    return ended ? code : STILL_ACTIVE;
}

std::set<std::wstring> Snapshot() {
    std::set<std::wstring> items;
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    std::wstring skip(temp, length);
    if (!skip.empty() && skip.back() == L'\\') skip.pop_back();
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    // Not the whole profile: Wine links its documents and desktop folders to the Unix home.
    for (const std::wstring& folder :
         {KnownFolder(FOLDERID_ProgramFiles), KnownFolder(FOLDERID_ProgramFilesX86), KnownFolder(FOLDERID_ProgramData),
          KnownFolder(FOLDERID_RoamingAppData), KnownFolder(FOLDERID_LocalAppData),
          std::wstring(windows) + L"\\Installer"})
        AddFiles(folder, skip, items);
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    const bool twoViews = sizeof(void*) == 8 || wow64;
    AddKeys(HKEY_LOCAL_MACHINE, L"HKLM", L"Software", twoViews ? KEY_WOW64_64KEY : 0, items);
    if (twoViews) AddKeys(HKEY_LOCAL_MACHINE, L"HKLM", L"Software", KEY_WOW64_32KEY, items);
    AddKeys(HKEY_CURRENT_USER, L"HKCU", L"Software", 0, items);
    return items;
}

std::vector<std::wstring> Difference(const std::set<std::wstring>& before, const std::set<std::wstring>& after) {
    std::vector<std::wstring> changes;
    for (const std::wstring& item : after)
        if (before.count(item) == 0) changes.push_back(L"+ " + item);
    for (const std::wstring& item : before)
        if (after.count(item) == 0) changes.push_back(L"- " + item);
    return changes;
}

std::vector<Entry> VisibleEntries(REGSAM view, const std::wstring& displayName) {
    std::vector<Entry> entries;
    HKEY uninstall = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &uninstall) != ERROR_SUCCESS)
        return entries;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (::RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY key = nullptr;
        if (::RegOpenKeyExW(uninstall, name, 0, KEY_READ | view, &key) != ERROR_SUCCESS) continue;
        Entry entry{name, {}, {}};
        wchar_t valueName[256];
        for (DWORD v = 0;; ++v) {
            DWORD nameLength = 256;
            DWORD type = 0;
            if (::RegEnumValueW(key, v, valueName, &nameLength, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (type == REG_DWORD) {
                DWORD number = 0;
                DWORD size = sizeof(number);
                ::RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &size);
                entry.numbers[valueName] = number;
            } else {
                entry.strings[valueName] = ReadString(key, valueName);
            }
        }
        ::RegCloseKey(key);
        // Windows Installer's own entry for a package that brings its own is marked as a system
        // component, which "Programs and Features" does not show.
        if (entry.strings[L"DisplayName"] == displayName && entry.numbers[L"SystemComponent"] != 1)
            entries.push_back(entry);
    }
    ::RegCloseKey(uninstall);
    return entries;
}

void DeleteUserKey(const wchar_t* subKey) { ::RegDeleteTreeW(HKEY_CURRENT_USER, subKey); }

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr /* the current user */, &path))) folder = path;
    ::CoTaskMemFree(path);
    return folder;
}

std::wstring ShortcutTarget(const std::wstring& linkPath) {
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::wstring target;
    {
        Microsoft::WRL::ComPtr<IShellLinkW> link;
        Microsoft::WRL::ComPtr<IPersistFile> file;
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr /* not aggregated */, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(&link))) &&
            SUCCEEDED(link.As(&file)) && SUCCEEDED(file->Load(linkPath.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr /* no find data */, SLGP_RAWPATH)))
            target = path;
    }
    if (SUCCEEDED(init)) ::CoUninitialize();
    return target;
}

std::wstring VersionString(const std::wstring& file, const wchar_t* name) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return L"";
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return L"";
    WORD* translation = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                          &length) ||
        length < 2 * sizeof(WORD))
        return L"";
    wchar_t query[128];
    swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], name);
    wchar_t* value = nullptr;
    if (!::VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &length) || value == nullptr)
        return L"";
    return value;
}

std::vector<std::wstring> Names(const std::wstring& folder, const wchar_t* pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            names.push_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

ULONGLONG FolderBytes(const std::wstring& folder) {
    ULONGLONG total = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            total += (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return total;
}

}  // namespace installation
