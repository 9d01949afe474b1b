// What the packaging tests look at on the machine: processes run to their end, the files and registry
// entries an installation can touch, the "Programs and Features" entry, shortcuts, version blocks.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace installation {

// Runs a command line and waits until it and every process it started have ended (an uninstaller
// that hands over to a copy of itself included); its own exit code, or STILL_ACTIVE when the
// processes outlive the time-out.
DWORD RunToCompletion(const std::wstring& commandLine, DWORD timeoutMs);

// Every file and folder under the places an installation writes to (the Program Files folders,
// ProgramData, the user's application data, the installer's cache) and every key and value name
// under HKLM\Software (both views) and HKCU\Software, of the class registrations only Windows
// Installer's.
std::set<std::wstring> Snapshot();
// What `after` holds and `before` does not ("+ ...") and the reverse ("- ..."), sorted.
std::vector<std::wstring> Difference(const std::set<std::wstring>& before, const std::set<std::wstring>& after);

// A "Programs and Features" entry: its key and its values, strings and numbers apart.
struct Entry {
    std::wstring key;
    std::map<std::wstring, std::wstring> strings;
    std::map<std::wstring, DWORD> numbers;
};
// The entries of that registry view that "Programs and Features" shows with this display name.
std::vector<Entry> VisibleEntries(REGSAM view, const std::wstring& displayName);

// Deletes a key of the current user with everything below it.
void DeleteUserKey(const wchar_t* subKey);

std::wstring KnownFolder(REFKNOWNFOLDERID id);
// The path a shortcut file points to; empty when it cannot be read.
std::wstring ShortcutTarget(const std::wstring& linkPath);
// A string of a file's version block (first translation), e.g. "CompanyName".
std::wstring VersionString(const std::wstring& file, const wchar_t* name);
// The names in a folder (files and folders, without "." and "..") that match a pattern.
std::vector<std::wstring> Names(const std::wstring& folder, const wchar_t* pattern = L"*");
// The sum of the sizes of the files directly in a folder.
ULONGLONG FolderBytes(const std::wstring& folder);

}  // namespace installation
