// The packages of this flavour's build, installed for real in the packaging prefix: the setup program and
// the MSI installed silently (their files, shortcut and "Programs and Features" entry, the installed tool
// run against the simulator, an upgrade and a second install, a silent removal that leaves only the user's
// stored mode), the zip run from a folder with spaces and non-ASCII letters, and the setup program's first
// page in the user's language (run once per locale by ctest, the NSIS translation in PELLORAN_SETUP_LANGUAGE).
// With PELLORAN_SIGNED_PACKAGES (the folder tests/package/signed-packages builds) the signed setup program and
// MSI too, each upgrading the unsigned older package.
#include "res/version.h"
#include "tests/driver/DialogWindows.h"
#include "tests/support/Files.h"
#include "tests/support/Processes.h"
#include "tests/support/SimRun.h"
#include "tests/support/StoredMode.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr DWORD kInstallMs = 120000;
constexpr wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
using Entry = std::map<std::wstring, std::wstring>;  // values of a "Programs and Features" entry, as text

std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], int(wide.size())));
    return wide;
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    const std::wstring folder = SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &path)) ? path : L"";
    ::CoTaskMemFree(path);
    return folder;
}

// The names in a folder that begin with the prefix, sorted.
std::vector<std::wstring> Names(const std::wstring& folder, const std::wstring& prefix = L"") {
    std::vector<std::wstring> names;
    std::error_code ignored;
    for (const fs::directory_entry& item : fs::directory_iterator(folder, ignored))
        if (item.path().filename().wstring().rfind(prefix, 0) == 0) names.push_back(item.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}

// The administrative template, installed beside the programs as a policy store lays it out.
const wchar_t* const kTemplate[] = {L"PolicyDefinitions\\Pelloran.admx", L"PolicyDefinitions\\en-US\\Pelloran.adml"};

std::vector<std::wstring> Sorted(std::vector<std::wstring> names, const std::wstring& more) {
    names.push_back(more);
    std::sort(names.begin(), names.end());
    return names;
}

// The administrative template and the start-up script in a package's folder, byte for byte as in the tree.
void ExpectTemplateAndScript(const std::wstring& folder) {
    EXPECT_EQ(Names(folder + L"\\PolicyDefinitions"), (std::vector<std::wstring>{L"Pelloran.admx", L"en-US"}));
    EXPECT_EQ(Names(folder + L"\\PolicyDefinitions\\en-US"), std::vector<std::wstring>{L"Pelloran.adml"});
    EXPECT_EQ(ReadFileBytes(folder + L"\\" + kTemplate[0]), ReadFileBytes(WinPath(PELLORAN_SOURCE_DIR "/packaging/policy/Pelloran.admx")));
    EXPECT_EQ(ReadFileBytes(folder + L"\\" + kTemplate[1]), ReadFileBytes(WinPath(PELLORAN_SOURCE_DIR "/packaging/policy/en-US/Pelloran.adml")));
    EXPECT_EQ(ReadFileBytes(folder + L"\\Apply-UsbChargingPolicy.cmd"),
              ReadFileBytes(WinPath(PELLORAN_SOURCE_DIR "/packaging/scripts/Apply-UsbChargingPolicy.cmd")));
}

// Runs a command line until it and every process it started have ended (an uninstaller that hands over to
// a copy of itself included); its exit code, or STILL_ACTIVE when they outlive the time-out.
DWORD RunToCompletion(std::wstring commandLine) {
    const HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    // Suspended until it is in the job, so that every process it starts is in the job too.
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                          &startup, &process))
        return STILL_ACTIVE;
    ::AssignProcessToJobObject(job, process.hProcess);
    ::ResumeThread(process.hThread);
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    const bool ended = WaitUntil([&] {
        return ::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                                           nullptr) && accounting.ActiveProcesses == 0;
    }, kInstallMs);
    DWORD code = STILL_ACTIVE;
    if (ended) ::GetExitCodeProcess(process.hProcess, &code);
    for (HANDLE handle : {process.hThread, process.hProcess, job}) ::CloseHandle(handle);
    return code;
}

void AddKeys(HKEY root, const std::wstring& rootName, const std::wstring& path, REGSAM view, std::set<std::wstring>& into) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    into.insert(rootName + path);
    wchar_t name[16384];
    std::vector<std::wstring> children;
    for (DWORD i = 0, length = 16384; ::RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
         ++i, length = 16384)
        into.insert(rootName + path + L" [" + name + L"]");
    // Of the class registrations (most of the registry, none of them ours) only Windows Installer's count.
    for (DWORD i = 0, length = 256; ::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
         ++i, length = 256)
        if (_wcsicmp(path.c_str(), L"Software\\Classes") != 0 || _wcsicmp(name, L"Installer") == 0) children.push_back(name);
    ::RegCloseKey(key);
    for (const std::wstring& child : children) AddKeys(root, rootName, path + L"\\" + child, view, into);
}

// Every file and folder below a folder, but not the one to skip, nor what a reparse point leads to (Wine
// links some profile folders to the Unix home).
void AddFiles(const std::wstring& folder, const std::wstring& skip, std::set<std::wstring>& into) {
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &found)) {
        const std::wstring name = found.cFileName, path = folder + L"\\" + name;
        if (name == L"." || name == L".." || _wcsicmp(path.c_str(), skip.c_str()) == 0) continue;
        into.insert(path);
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY)
            AddFiles(path, skip, into);
    }
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
}

// Every file and folder where an installation writes (not the temporary folder) and every key and value
// name under HKLM\Software (both views) and HKCU\Software.
std::set<std::wstring> Snapshot() {
    std::set<std::wstring> items;
    wchar_t temp[MAX_PATH + 1], windows[MAX_PATH];
    const std::wstring skip = fs::path(std::wstring(temp, ::GetTempPathW(MAX_PATH + 1, temp))).parent_path().wstring();
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    for (const std::wstring& folder : {KnownFolder(FOLDERID_ProgramFiles), KnownFolder(FOLDERID_ProgramFilesX86),
                                       KnownFolder(FOLDERID_ProgramData), KnownFolder(FOLDERID_RoamingAppData),
                                       KnownFolder(FOLDERID_LocalAppData), std::wstring(windows) + L"\\Installer"})
        AddFiles(folder, skip, items);
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) AddKeys(HKEY_LOCAL_MACHINE, L"HKLM\\", L"Software", view, items);
    AddKeys(HKEY_CURRENT_USER, L"HKCU\\", L"Software", 0, items);
    return items;
}

// The entries of a registry view that "Programs and Features" shows as Pelloran.
std::vector<Entry> Entries(REGSAM view) {
    std::vector<Entry> entries;
    HKEY uninstall = nullptr, key = nullptr;
    wchar_t name[256], value[2048];
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | view, &uninstall) != ERROR_SUCCESS) return entries;
    for (DWORD i = 0, length = 256; ::RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
         ++i, length = 256) {
        if (::RegOpenKeyExW(uninstall, name, 0, KEY_READ | view, &key) != ERROR_SUCCESS) continue;
        Entry entry;
        DWORD type = 0, size = sizeof(value) - 2;
        for (DWORD v = 0, nameLength = 256; ::RegEnumValueW(key, v, name, &nameLength, nullptr, &type,
                                                             reinterpret_cast<BYTE*>(value), &size) == 0;
             ++v, nameLength = 256, size = sizeof(value) - 2) {
            value[size / 2] = L'\0';
            DWORD number = 0;
            std::memcpy(&number, value, sizeof(number));
            entry[name] = type == REG_DWORD ? std::to_wstring(number) : value;
        }
        ::RegCloseKey(key);
        // Windows Installer's own entry for a package that brings its own is a system component, not shown.
        if (entry[L"DisplayName"] == L"Pelloran" && entry[L"SystemComponent"] != L"1") entries.push_back(entry);
    }
    ::RegCloseKey(uninstall);
    return entries;
}

std::wstring ShortcutTarget(const std::wstring& link) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Microsoft::WRL::ComPtr<IShellLinkW> shortcut;
    Microsoft::WRL::ComPtr<IPersistFile> file;
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&shortcut))) &&
        SUCCEEDED(shortcut.As(&file)) && SUCCEEDED(file->Load(link.c_str(), STGM_READ)))
        shortcut->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
    return path;
}

// The folder Windows Installer puts a package's ProgramMenuFolder shortcuts in.
std::wstring MsiProgramMenuFolder(const std::wstring& package) {
    ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MSIHANDLE handle = 0;
    wchar_t folder[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (::MsiOpenPackageW(package.c_str(), &handle) == ERROR_SUCCESS) {
        ::MsiGetPropertyW(handle, L"ProgramMenuFolder", folder, &length);
        ::MsiCloseHandle(handle);
    }
    return fs::path(folder).parent_path().wstring();  // without its closing backslash
}

// The installed products of our packages' upgrade code.
std::vector<std::wstring> RelatedProducts() {
    std::vector<std::wstring> products;
    wchar_t code[39];
    for (DWORD i = 0; ::MsiEnumRelatedProductsW(PELLORAN_UPGRADE_CODE, 0, i, code) == ERROR_SUCCESS; ++i)
        products.push_back(code);
    return products;
}

// One package: the current version and an older one, where it installs, whether its tool can run here.
struct Package {
    const char* name;
    bool msi;
    std::wstring current, older;
    std::wstring sourceExe;  // the Pelloran.exe that the package holds
    REGSAM view;             // the registry view of its entry
    KNOWNFOLDERID programFiles;
    bool runs;
    std::wstring olderExe = L"";         // the older package's, when it is not the same
    std::wstring keepUninstaller = L"";  // where a copy of the installed uninstaller goes, for outside checks
    std::wstring sameVersion = L"";      // the unsigned package of this version, which a signed one replaces
    std::wstring other = L"";            // the other kind of package of this version, which refuses to install over it
};

void PrintTo(const Package& package, std::ostream* out) { *out << package.name; }

std::vector<Package> Packages() {
    const std::wstring dir = WinPath(PELLORAN_PACKAGES), suffix = Widen(PELLORAN_PACKAGE_SUFFIX);
    const std::wstring current = dir + L"\\current\\Pelloran-" + Widen(PELLORAN_VERSION_TEXT) + suffix;
    const std::wstring older = dir + L"\\older\\Pelloran-" + Widen(PELLORAN_OLDER_VERSION) + suffix;
    const std::wstring exe = WinPath(PELLORAN_EXE_PATH);
    std::vector<Package> packages = {
        {"Setup", false, current + L"-setup.exe", older + L"-setup.exe", exe, 0, FOLDERID_ProgramFiles, true, L"", L"", L"",
         current + L".msi"},
        {"Msi", true, current + L".msi", older + L".msi", exe, 0, FOLDERID_ProgramFiles, true, L"", L"", L"",
         current + L"-setup.exe"}};
    if (const char* folder = std::getenv("PELLORAN_SIGNED_PACKAGES")) {
        // Their programs are the signed ones of the signed zip, unpacked beside them.
        const std::wstring signedDir = WinPath(folder), signedExe = signedDir + L"\\zip\\Pelloran.exe";
        const std::wstring name = signedDir + L"\\Pelloran-" + Widen(PELLORAN_VERSION_TEXT) + suffix;
        packages.push_back({"SignedSetup", false, name + L"-setup.exe", older + L"-setup.exe", signedExe, 0,
                            FOLDERID_ProgramFiles, true, exe, signedDir + L"\\installed\\Uninstall.exe", current + L"-setup.exe"});
        packages.push_back({"SignedMsi", true, name + L".msi", older + L".msi", signedExe, 0, FOLDERID_ProgramFiles, true, exe,
                            L"", current + L".msi"});
    }
#ifdef PELLORAN_X86_BUILD
    // In the 64-bit flavour the product's 32-bit MSI too, installed by the 64-bit msiexec into the 32-bit
    // Program Files and registry view; its tool is not started, as this machine may run no 32-bit code.
    packages.push_back({"X86Msi", true, dir + L"\\x86\\current\\Pelloran-" + Widen(PELLORAN_VERSION_TEXT) + L".msi",
                        dir + L"\\x86\\older\\Pelloran-" + Widen(PELLORAN_OLDER_VERSION) + L".msi",
                        WinPath(PELLORAN_X86_BUILD "/app/Pelloran.exe"), KEY_WOW64_32KEY, FOLDERID_ProgramFilesX86, false});
#endif
    return packages;
}

class InstallTest : public ::testing::TestWithParam<Package> {
protected:
    void SetUp() override {
        // Windows Installer's own folder and keys, which every Windows has and a fresh prefix gets with
        // its first package: they are no part of ours.
        wchar_t windows[MAX_PATH] = {};
        ::GetWindowsDirectoryW(windows, MAX_PATH);
        ::CreateDirectoryW((std::wstring(windows) + L"\\Installer").c_str(), nullptr);
        for (std::wstring key : {L"Classes\\Installer\\Features", L"Classes\\Installer\\Products", L"Classes\\Installer\\UpgradeCodes",
                                 L"Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes",
                                 L"Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components",
                                 L"Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products"}) {
            key = L"Software\\" + key;
            HKEY created = nullptr;
            ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &created, nullptr);
            ::RegCloseKey(created);
        }
        BlockStoredKey(false);  // no stored mode, nor its parent key
        // A run that failed half-way may have left Pelloran installed, or part of it.
        for (Entry& entry : Entries(P().view)) RunToCompletion(entry[L"QuietUninstallString"]);
        for (const std::wstring& product : RelatedProducts()) RunToCompletion(L"msiexec.exe /x " + product + L" /qn");
        std::error_code ignored;
        fs::remove(ShortcutFolder() + L"\\Pelloran.lnk", ignored);
        fs::remove_all(Folder(), ignored);
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kUninstall) + L"\\Pelloran").c_str(), P().view, 0);
        ASSERT_TRUE(Entries(P().view).empty()) << "Pelloran cannot be removed";
        m_before = Snapshot();
    }

    const Package& P() const { return GetParam(); }
    std::wstring Folder() const { return KnownFolder(P().programFiles) + L"\\Pelloran"; }
    std::wstring ShortcutFolder() const {
        return P().msi ? MsiProgramMenuFolder(P().current) : KnownFolder(FOLDERID_CommonPrograms);
    }

    // Installs a package silently: msiexec's or the setup program's exit code.
    static DWORD RunInstall(const std::wstring& package) {
        const bool msi = package.size() > 4 && package.compare(package.size() - 4, 4, L".msi") == 0;
        return RunToCompletion(msi ? L"msiexec.exe /i \"" + package + L"\" /qn" : L"\"" + package + L"\" /S");
    }
    void Install(const std::wstring& package) { EXPECT_EQ(RunInstall(package), 0u); }

    // Files, shortcut and entry of an installed version, whose package holds the program sourceExe (and the
    // command line beside it: in a build, in its ctl folder).
    void ExpectInstalled(const std::string& version, const std::wstring& sourceExe) {
        SCOPED_TRACE(version);
        const std::wstring exe = Folder() + L"\\Pelloran.exe";
        std::vector<std::wstring> files = {L"Pelloran.exe", L"PelloranLang.ini", L"Apply-UsbChargingPolicy.cmd",
                                           L"Detect-UsbCharging.cmd", L"Detect-UsbCharging.ps1", L"Remediate-UsbCharging.ps1"};
        if (!P().msi) files.push_back(L"Uninstall.exe");
        files.push_back(L"pelloranctl.exe");
        std::sort(files.begin(), files.end());
        EXPECT_EQ(Names(Folder()), Sorted(files, L"PolicyDefinitions"));
        ExpectTemplateAndScript(Folder());
        EXPECT_EQ(Names(KnownFolder(P().programFiles), L"Pelloran"), std::vector<std::wstring>{L"Pelloran"});
        std::wstring sourceCtl = sourceExe.substr(0, sourceExe.rfind(L'\\')) + L"\\pelloranctl.exe";
        if (sourceExe.size() > 17 && sourceExe.compare(sourceExe.size() - 17, 17, L"\\app\\Pelloran.exe") == 0)
            sourceCtl = sourceExe.substr(0, sourceExe.size() - 17) + L"\\ctl\\pelloranctl.exe";
        EXPECT_TRUE(ReadFileBytes(exe) == ReadFileBytes(sourceExe) && ReadFileBytes(Folder() + L"\\PelloranLang.ini") ==
                    ReadFileBytes(WinPath(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini")) &&
                    ReadFileBytes(Folder() + L"\\pelloranctl.exe") == ReadFileBytes(sourceCtl)) << "the files as built";
        EXPECT_EQ(ShortcutTarget(ShortcutFolder() + L"\\Pelloran.lnk"), exe);
        std::vector<Entry> entries = Entries(P().view);
        ASSERT_EQ(entries.size(), 1u);
        Entry& entry = entries[0];
        EXPECT_EQ(entry[L"DisplayVersion"], Widen(version));
        EXPECT_EQ(entry[L"Publisher"], VersionText(exe, L"CompanyName"));
        EXPECT_EQ(entry[L"DisplayIcon"], exe + L",0");
        uintmax_t bytes = 0;
        for (const std::wstring& file : files) bytes += fs::file_size(Folder() + L"\\" + file);
        for (const wchar_t* file : kTemplate) bytes += fs::file_size(Folder() + L"\\" + file);
        EXPECT_EQ(entry[L"EstimatedSize"], std::to_wstring(bytes / 1024));
        EXPECT_EQ(entry[L"NoModify"] + entry[L"NoRepair"], L"11");
        std::wstring uninstall = L"\"" + Folder() + L"\\Uninstall.exe\"", quiet = uninstall + L" /S";
        if (P().msi) {
            const std::vector<std::wstring> products = RelatedProducts();
            ASSERT_EQ(products.size(), 1u) << "one Windows Installer product";
            wchar_t installed[32] = {};
            DWORD length = 32;
            ::MsiGetProductInfoW(products[0].c_str(), INSTALLPROPERTY_VERSIONSTRING, installed, &length);
            EXPECT_EQ(installed, Widen(version));
            uninstall = L"MsiExec.exe /X" + products[0], quiet = uninstall + L" /qn";
        }
        EXPECT_EQ(entry[L"UninstallString"], uninstall);
        EXPECT_EQ(entry[L"QuietUninstallString"], quiet);
    }

    // Removes the package with its entry's quiet command: nothing of it stays, only the mode a run stored.
    void UninstallAndExpectNothingLeft(bool toolRan) {
        std::vector<Entry> entries = Entries(P().view);
        ASSERT_EQ(entries.size(), 1u);
        ASSERT_EQ(RunToCompletion(entries[0][L"QuietUninstallString"]), 0u);
        std::vector<std::wstring> changes;
        const std::set<std::wstring> after = Snapshot();
        for (const std::wstring& item : after) if (m_before.count(item) == 0) changes.push_back(L"+ " + item);
        for (const std::wstring& item : m_before) if (after.count(item) == 0) changes.push_back(L"- " + item);
        std::vector<std::wstring> left;
        if (toolRan)
            left = {L"+ HKCU\\Software\\Tolvek", L"+ HKCU\\Software\\Tolvek\\Quenby",
                    L"+ HKCU\\Software\\Tolvek\\Quenby [PelloranMode]"};
        EXPECT_EQ(changes, left);
        EXPECT_TRUE(RelatedProducts().empty());
    }

    std::set<std::wstring> m_before;
};

// Starts a tool, waits for its dialog and closes it; the dialog.
std::wstring RunTool(const std::wstring& exe) {
    ToolProcess tool(exe);
    HWND dialog = WaitForWindow(tool.pid(), &IsSettingsDialog);
    const std::wstring description = dialog != nullptr ? StateOf(dialog, IDC_DESCRIPTION).text : L"<no dialog>";
    ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(tool.WaitForExit(), 0u);
    return description;
}

// A silent install of an older version, an upgrade to this one and a second install of it, each leaving one
// folder and one entry; the installed tool runs; a silent removal leaves only the user's stored mode.
TEST_P(InstallTest, InstallsUpgradesReinstallsRunsAndLeavesOnlyTheUsersModeWhenRemoved) {
    Install(P().older);
    ExpectInstalled(PELLORAN_OLDER_VERSION, P().olderExe.empty() ? P().sourceExe : P().olderExe);
    if (!P().sameVersion.empty()) {  // the unsigned package of this version first, which the signed one replaces
        Install(P().sameVersion);
        ExpectInstalled(PELLORAN_VERSION_TEXT, P().olderExe);
    }
    for (int twice = 0; twice < 2; ++twice) {
        Install(P().current);
        ExpectInstalled(PELLORAN_VERSION_TEXT, P().sourceExe);
    }
    if (P().runs) {
        EXPECT_NE(RunTool(Folder() + L"\\Pelloran.exe"), L"<no dialog>");
        const Captured ctl = RunCaptured(L"\"" + Folder() + L"\\pelloranctl.exe\" status", FreshFolder("ctl-installed"));
        EXPECT_EQ(ctl.exit, 0u);
        EXPECT_EQ(ctl.out, "off\r\n") << ctl.err;
    }
    if (!P().keepUninstaller.empty()) {  // into a folder that tests/package/signed-packages made
        EXPECT_TRUE(::CopyFileW((Folder() + L"\\Uninstall.exe").c_str(), P().keepUninstaller.c_str(), FALSE));
    }
    UninstallAndExpectNothingLeft(P().runs);
}

// Each package refuses to install where the other kind installed Pelloran (the setup program with exit code 3, the
// MSI with 1603), and leaves that installation as it was: its entry, and nothing behind once it is removed.
TEST_P(InstallTest, RefusesToInstallWhereTheOtherPackageInstalled) {
    if (P().other.empty()) GTEST_SKIP() << "the unsigned packages of this flavour show it";
    Install(P().other);
    const std::vector<Entry> before = Entries(P().view);
    EXPECT_EQ(RunInstall(P().current), P().msi ? DWORD{ERROR_INSTALL_FAILURE} : 3u);
    EXPECT_EQ(Entries(P().view), before);
    UninstallAndExpectNothingLeft(false);
}

INSTANTIATE_TEST_SUITE_P(Packages, InstallTest, ::testing::ValuesIn(Packages()),
                         [](const ::testing::TestParamInfo<Package>& info) { return std::string(info.param.name); });

TEST(PortableZip, RunsFromAFolderWithSpacesAndNonAsciiLettersAndReadsItsLanguageFile) {
    const std::vector<std::wstring> folders = Names(WinPath(PELLORAN_PACKAGES "/zip"));
    ASSERT_EQ(folders.size(), 1u) << "the zip is unpacked into one folder";
    const std::wstring folder = WinPath(PELLORAN_PACKAGES "/zip") + L"\\" + folders[0];
    const std::wstring& name = folders[0];
    EXPECT_TRUE(name.find(L' ') != std::wstring::npos && std::any_of(name.begin(), name.end(), [](wchar_t c) { return c > 0x7F; }));
    EXPECT_EQ(Names(folder), (std::vector<std::wstring>{L"Apply-UsbChargingPolicy.cmd", L"Detect-UsbCharging.cmd",
                                                        L"Detect-UsbCharging.ps1", L"Pelloran.exe", L"PelloranLang.ini",
                                                        L"PolicyDefinitions", L"README.txt", L"Remediate-UsbCharging.ps1",
                                                        L"pelloranctl.exe"}));
    ExpectTemplateAndScript(folder);
    std::string readme = ReadFileBytes(folder + L"\\README.txt");
    ::CharLowerBuffA(&readme[0], DWORD(readme.size()));
    EXPECT_NE(readme.find("administrator rights"), std::string::npos) << "the text says the tool asks for them";
    wchar_t first[1000] = {};  // the description's first paragraph, found only in the language file beside the tool
    ::GetPrivateProfileStringW(L"1", L"S1", L"", first, 1000, (folder + L"\\PelloranLang.ini").c_str());
    EXPECT_TRUE(first[0] != L'\0' && RunTool(folder + L"\\Pelloran.exe").rfind(first, 0) == 0);
    Store({REG_NONE, ""});
}

// Detect-UsbCharging.cmd of the zip, run by cmd against the simulator as Configuration Manager runs a detection
// script: pelloranctl found through the uninstall entry (in either registry view) or in the default folder, and the
// answer a detection script gives: exit 0 with a line (detected), exit 0 with no output at all (not detected), or
// an exit code other than 0 with the reason on standard error (failed).
TEST(DetectionScript, AnswersInEveryStateAndWithoutTheToolOrTheFirmware) {
    enum class Where { Entry32, Entry64, DefaultFolder, Nowhere };
    struct Row { Where where; const char* scenario; const wchar_t* wanted; DWORD exit; std::string out; };
    const std::string is = "compliant: USB Charging is ", battery = is + "on, Adapter + Battery Mode";
    const Row rows[] = {
        {Where::Entry32, "InitialStatus=0x10000", L"off", 0, is + "off"},
        {Where::Entry32, "InitialStatus=0x10001", L"adapter", 0, is + "on, Adapter Mode"},
        {Where::Entry32, "InitialStatus=0x10003", L"battery", 0, battery},
        {Where::Entry32, "InitialStatus=0x10000", L"adapter", 0, ""},
        {Where::Entry32, "InitialStatus=0x10001", L"battery", 0, ""},
        {Where::Entry32, "InitialStatus=0x10003", L"adapter", 0, ""},
        {Where::Entry32, "InitialStatus=0x10003", L"off", 0, ""},
        {Where::Entry64, "InitialStatus=0x10003", L"", 0, battery},  // the wanted state written at its top
        {Where::DefaultFolder, "InitialStatus=0x10003", L"", 0, battery},
        {Where::Nowhere, "InitialStatus=0x10003", L"", 1, ""},
        {Where::Entry32, "Instances=0", L"", 0, "not applicable: this machine has no USB Charging firmware"},
        {Where::Entry32, "Answers.device_status=WBEM_E_ACCESS_DENIED", L"", 4, ""},
    };
    const std::wstring key = std::wstring(kUninstall) + L"\\Pelloran", tools = WinPath(PELLORAN_BINARY_DIR "/testfiles/pelloran tools");
    const std::wstring defaultFolder = KnownFolder(FOLDERID_ProgramFilesX86) + L"\\Pelloran";
    const auto clean = [&] {
        std::error_code ignored;
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), view, 0);
        fs::remove_all(defaultFolder, ignored);
        fs::remove_all(tools, ignored);
        ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", nullptr);  // the package tests' own simulator again
    };
    const std::vector<std::wstring> zip = Names(WinPath(PELLORAN_PACKAGES "/zip"));
    ASSERT_EQ(zip.size(), 1u);
    const std::wstring script = WinPath(PELLORAN_PACKAGES "/zip/") + zip[0] + L"\\Detect-UsbCharging.cmd";
    int runs = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.scenario) + ", wanted " + std::string(row.wanted, row.wanted + wcslen(row.wanted)) +
                     ", tool " + std::to_string(int(row.where)));
        clean();
        const bool entry = row.where == Where::Entry32 || row.where == Where::Entry64;
        const std::wstring folder = entry ? tools : defaultFolder;
        if (row.where != Where::Nowhere) {
            fs::create_directories(folder);
            fs::copy_file(WinPath(PELLORAN_CTL_PATH), folder + L"\\pelloranctl.exe");
        }
        if (entry) {  // as the MSI writes it, with its closing backslash, and as the setup program does, without
            const std::wstring location = row.where == Where::Entry32 ? tools + L"\\" : tools;
            HKEY created = nullptr;
            ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                        KEY_WRITE | (row.where == Where::Entry32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY), nullptr,
                                        &created, nullptr), ERROR_SUCCESS);
            ::RegSetValueExW(created, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(location.c_str()),
                             DWORD((location.size() + 1) * sizeof(wchar_t)));
            ::RegCloseKey(created);
        }
        SimRun run(FreshFolder("detect-" + std::to_string(++runs)));
        run.Scenario(row.scenario);
        const Captured said = RunCaptured(L"cmd.exe /c \"\"" + script + L"\" " + row.wanted + L"\"", run.folder);
        EXPECT_EQ(said.exit, row.exit);
        EXPECT_EQ(said.out, row.out.empty() ? "" : row.out + "\r\n");
        EXPECT_EQ(said.err.empty(), row.exit == 0) << said.err;
    }
    clean();
}

// The setup caption of an NSIS translation: the line after "# ^SetupCaption", with our name in it.
TEST(SetupLanguage, FirstPageSpeaksTheUsersLanguage) {
    std::istringstream lines(ReadFileBytes(WinPath(PELLORAN_NSIS_LANGUAGES "/") + Widen(std::getenv("PELLORAN_SETUP_LANGUAGE")) + L".nlf"));
    std::string line;
    while (std::getline(lines, line) && line.rfind("# ^SetupCaption", 0) != 0) {}
    std::getline(lines, line);
    std::wstring caption = Widen(line.substr(0, line.find('\r')));
    ASSERT_NE(caption.find(L"$(^Name)"), std::wstring::npos) << "NSIS has no setup caption for this language";
    caption.replace(caption.find(L"$(^Name)"), 8, L"Pelloran");
    ToolProcess installer(WinPath(PELLORAN_PACKAGES "/current/Pelloran-") + Widen(PELLORAN_VERSION_TEXT) +
                          Widen(PELLORAN_PACKAGE_SUFFIX) + L"-setup.exe");  // ended, on its first page, at the end
    EXPECT_NE(WaitForWindow(installer.pid(), [&](HWND h) { return TextOf(h) == caption; }), nullptr)
        << "no page captioned " << testing::PrintToString(caption);
}

}  // namespace
