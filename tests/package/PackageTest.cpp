// The packages of this flavour's build, installed for real in the packaging prefix: the setup program and
// the MSI installed silently (their files, shortcut and "Programs and Features" entry, an upgrade and a second
// install, the installed tool run against the simulator with pelloranctl reading the state while its dialog is open,
// a silent removal that leaves only the user's stored mode), the zip run from a folder with spaces and non-ASCII
// letters, the zip's detection script, and the setup program's first page in the user's language (run once per
// locale by ctest, the NSIS translation in PELLORAN_SETUP_LANGUAGE). With PELLORAN_SIGNED_PACKAGES (the folder
// tests/package/signed-packages builds) the signed setup program and MSI instead, each installed over the unsigned
// package of its version.
#include "res/version.h"
#include "tests/driver/DialogWindows.h"
#include "tests/support/Files.h"
#include "tests/support/Processes.h"
#include "tests/support/SimRun.h"
#include "tests/support/StoredMode.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <msi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <set>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr DWORD kInstallMs = 120000;
constexpr wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
using Entry = std::map<std::wstring, std::wstring>;  // values of a "Programs and Features" entry, as text

// An ASCII text as a wide one.
std::wstring W(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    const std::wstring folder = SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &path)) ? path : L"";
    ::CoTaskMemFree(path);
    return folder;
}

// The names in a folder, sorted.
std::vector<std::wstring> Names(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::error_code ignored;
    for (const fs::directory_entry& item : fs::directory_iterator(folder, ignored)) names.push_back(item.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}

// What a package's folder holds: what every package ships, and the names given (sorted).
std::vector<std::wstring> Shipped(std::vector<std::wstring> names) {
    names.insert(names.end(), {L"Apply-UsbChargingPolicy.cmd", L"Detect-UsbCharging.cmd", L"Detect-UsbCharging.ps1", L"Pelloran.exe",
                               L"PelloranLang.ini", L"PolicyDefinitions", L"Remediate-UsbCharging.ps1", L"pelloranctl.exe"});
    std::sort(names.begin(), names.end());
    return names;
}

// The administrative template, laid out as a policy store lays it out, and the start-up script in a package's
// folder, byte for byte as in the tree.
void ExpectTemplateAndScript(const std::wstring& folder) {
    EXPECT_EQ(Names(folder + L"\\PolicyDefinitions"), (std::vector<std::wstring>{L"Pelloran.admx", L"en-US"}));
    EXPECT_EQ(ReadFileBytes(folder + L"\\PolicyDefinitions\\Pelloran.admx"), ReadFileBytes(WinPath(PELLORAN_SOURCE_DIR "/packaging/policy/Pelloran.admx")));
    EXPECT_EQ(ReadFileBytes(folder + L"\\PolicyDefinitions\\en-US\\Pelloran.adml"),
              ReadFileBytes(WinPath(PELLORAN_SOURCE_DIR "/packaging/policy/en-US/Pelloran.adml")));
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
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &process))
        return STILL_ACTIVE;
    ::AssignProcessToJobObject(job, process.hProcess);
    ::ResumeThread(process.hThread);
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    const bool ended = WaitUntil([&] {
        return ::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof(accounting), nullptr) &&
               accounting.ActiveProcesses == 0;
    }, kInstallMs);
    DWORD code = STILL_ACTIVE;
    if (ended) ::GetExitCodeProcess(process.hProcess, &code);
    for (HANDLE handle : {process.hThread, process.hProcess, job}) ::CloseHandle(handle);
    return code;
}

// Every key and value name below a key, but not the class registrations (most of the registry, none of them ours)
// nor Windows Installer's own records, which a prefix gets with its first package (whether a package's product is
// gone is asked of Windows Installer itself).
void AddKeys(HKEY root, const std::wstring& rootName, const std::wstring& path, REGSAM view, std::set<std::wstring>& into) {
    HKEY key = nullptr;
    if (_wcsicmp(path.c_str(), L"Software\\Classes") == 0 || _wcsicmp(path.c_str(), L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer") == 0 ||
        ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return;
    into.insert(rootName + path);
    wchar_t name[16384];
    std::vector<std::wstring> children;
    for (DWORD i = 0, length = 16384; ::RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0; ++i, length = 16384)
        into.insert(rootName + path + L" [" + name + L"]");
    for (DWORD i = 0, length = 256; ::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0; ++i, length = 256)
        children.push_back(name);
    ::RegCloseKey(key);
    for (const std::wstring& child : children) AddKeys(root, rootName, path + L"\\" + child, view, into);
}

// Every file and folder where an installation writes (for every user, and the user's Start menu, where Wine's msiexec
// puts our shortcut), and every key and value name under HKLM\Software (both views) and HKCU\Software. (Not the
// user's whole profile: Wine links some of its folders to the Unix home.)
std::set<std::wstring> Snapshot() {
    std::set<std::wstring> items;
    std::error_code ignored;
    for (const KNOWNFOLDERID& id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86, FOLDERID_ProgramData, FOLDERID_Programs})
        for (const fs::directory_entry& item : fs::recursive_directory_iterator(KnownFolder(id), ignored)) items.insert(item.path().wstring());
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
    for (DWORD i = 0, length = 256; ::RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0; ++i, length = 256) {
        if (::RegOpenKeyExW(uninstall, name, 0, KEY_READ | view, &key) != ERROR_SUCCESS) continue;
        Entry entry;
        DWORD type = 0, size = sizeof(value) - 2;
        for (DWORD v = 0, nameLength = 256; ::RegEnumValueW(key, v, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == 0;
             ++v, nameLength = 256, size = sizeof(value) - 2) {
            value[size / 2] = L'\0';
            entry[name] = type == REG_DWORD ? std::to_wstring(value[0] | DWORD{value[1]} << 16) : value;
        }
        ::RegCloseKey(key);
        // Windows Installer's own entry for a package that brings its own is a system component, not shown.
        if (entry[L"DisplayName"] == L"Pelloran" && entry[L"SystemComponent"] != L"1") entries.push_back(entry);
    }
    ::RegCloseKey(uninstall);
    return entries;
}

// Pelloran's shortcut among the Start menu's programs of every user; from an MSI under Wine, among the user's own
// (Windows Installer takes every user's folder for the ProgramMenuFolder of a package with ALLUSERS, as ours is; Wine's
// takes the user's).
std::wstring Shortcut(bool msi) {
    const std::wstring common = KnownFolder(FOLDERID_CommonPrograms) + L"\\Pelloran.lnk";
    return msi && !fs::exists(common) ? KnownFolder(FOLDERID_Programs) + L"\\Pelloran.lnk" : common;
}

// The installed products of our packages' upgrade code.
std::vector<std::wstring> RelatedProducts() {
    std::vector<std::wstring> products;
    wchar_t code[39];
    for (DWORD i = 0; ::MsiEnumRelatedProductsW(PELLORAN_UPGRADE_CODE, 0, i, code) == ERROR_SUCCESS; ++i) products.push_back(code);
    return products;
}

bool IsMsi(const std::wstring& package) { return package.size() >= 4 && package.compare(package.size() - 4, 4, L".msi") == 0; }

// A package installed one version after another: each step's package, its version and the Pelloran.exe it holds (and
// pelloranctl.exe beside it, in a build in its ctl folder). The last step's package is the one under test.
struct Step {
    std::wstring package;
    std::string version;
    std::wstring exe;
};
struct Package {
    std::string name;
    std::vector<Step> steps;
    std::wstring other = L"";            // the other kind of package of this version, which it refuses to install over
    std::wstring keepUninstaller = L"";  // where a copy of the installed uninstaller goes, for checks outside
    bool x86 = false;  // the 32-bit MSI in the 64-bit flavour: 32-bit Program Files and registry view, its tool not run
};

std::vector<Package> Packages() {
    const std::wstring dir = WinPath(PELLORAN_PACKAGES), suffix = W(PELLORAN_PACKAGE_SUFFIX), exe = WinPath(PELLORAN_EXE_PATH);
    const std::wstring current = dir + L"\\current\\Pelloran-" + W(PELLORAN_VERSION_TEXT) + suffix;
    const std::wstring older = dir + L"\\older\\Pelloran-" + W(PELLORAN_OLDER_VERSION) + suffix;
    const char* signedFolder = std::getenv("PELLORAN_SIGNED_PACKAGES");
    std::vector<Package> packages;
    for (const std::wstring kind : {L"-setup.exe", L".msi"}) {
        const Step now{current + kind, PELLORAN_VERSION_TEXT, exe};
        const std::string name = IsMsi(kind) ? "Msi" : "Setup";
        if (signedFolder == nullptr) {
            packages.push_back({.name = name, .steps = {{older + kind, PELLORAN_OLDER_VERSION, exe}, now, now},
                                .other = current + (IsMsi(kind) ? L"-setup.exe" : L".msi")});
        } else {  // its programs are the signed ones of the signed zip, unpacked beside it
            const std::wstring at = WinPath(signedFolder) + L"\\";
            packages.push_back({.name = "Signed" + name,
                                .steps = {now, {at + L"Pelloran-" + W(PELLORAN_VERSION_TEXT) + suffix + kind, PELLORAN_VERSION_TEXT, at + L"zip\\Pelloran.exe"}},
                                .keepUninstaller = IsMsi(kind) ? L"" : at + L"installed\\Uninstall.exe"});
        }
    }
#ifdef PELLORAN_X86_BUILD
    // In the 64-bit flavour the product's 32-bit MSI too, installed by the 64-bit msiexec into the 32-bit Program Files
    // and registry view; its tool is not started, as this machine may run no 32-bit code. (Its upgrade is the same as
    // the 64-bit MSI's.)
    packages.push_back({.name = "X86Msi", .steps = {{dir + L"\\x86\\Pelloran-" + W(PELLORAN_VERSION_TEXT) + L".msi", PELLORAN_VERSION_TEXT,
                                                     WinPath(PELLORAN_X86_BUILD "/app/Pelloran.exe")}}, .x86 = true});
#endif
    return packages;
}

// The folder the zip is unpacked into, the only one in its folder.
std::wstring ZipFolder() {
    const std::vector<std::wstring> folders = Names(WinPath(PELLORAN_PACKAGES "/zip"));
    return WinPath(PELLORAN_PACKAGES "/zip\\") + (folders.size() == 1 ? folders[0] : L"<not one folder>");
}

// Starts a tool, waits for its dialog, does what is to be done while it is open and closes it; the dialog's
// description.
std::wstring RunTool(const std::wstring& exe, const std::function<void()>& whileOpen = [] {}) {
    ToolProcess tool(exe);
    HWND dialog = WaitForWindow(tool.pid(), &IsSettingsDialog);
    const std::wstring description = dialog != nullptr ? StateOf(dialog, IDC_DESCRIPTION).text : L"<no dialog>";
    whileOpen();
    ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(tool.WaitForExit(), 0u);
    return description;
}

class InstallTest : public ::testing::TestWithParam<Package> {
protected:
    void SetUp() override {
        BlockStoredKey(false);  // no stored mode, nor its parent key
        // A run that failed half-way may have left Pelloran installed, or part of it.
        for (Entry& entry : Entries(View())) RunToCompletion(entry[L"QuietUninstallString"]);
        for (const std::wstring& product : RelatedProducts()) RunToCompletion(L"msiexec.exe /x " + product + L" /qn");
        std::error_code ignored;
        for (const KNOWNFOLDERID& id : {FOLDERID_CommonPrograms, FOLDERID_Programs}) fs::remove(KnownFolder(id) + L"\\Pelloran.lnk", ignored);
        fs::remove_all(Folder(), ignored);
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kUninstall) + L"\\Pelloran").c_str(), View(), 0);
        ASSERT_TRUE(Entries(View()).empty()) << "Pelloran cannot be removed";
        m_before = Snapshot();
    }

    const Package& P() const { return GetParam(); }
    REGSAM View() const { return P().x86 ? KEY_WOW64_32KEY : 0; }
    std::wstring Folder() const { return KnownFolder(P().x86 ? FOLDERID_ProgramFilesX86 : FOLDERID_ProgramFiles) + L"\\Pelloran"; }

    // Installs a package silently: msiexec's or the setup program's exit code.
    static DWORD RunInstall(const std::wstring& package) {
        return RunToCompletion(IsMsi(package) ? L"msiexec.exe /i \"" + package + L"\" /qn" : L"\"" + package + L"\" /S");
    }

    // Installs a step's package: then its files, shortcut and entry.
    void InstallAndExpectInstalled(const Step& step) {
        SCOPED_TRACE(step.package);
        ASSERT_EQ(RunInstall(step.package), 0u);
        const std::wstring exe = Folder() + L"\\Pelloran.exe", built = step.exe.substr(0, step.exe.rfind(L'\\'));
        EXPECT_EQ(Names(Folder()), Shipped(IsMsi(step.package) ? std::vector<std::wstring>{} : std::vector<std::wstring>{L"Uninstall.exe"}));
        ExpectTemplateAndScript(Folder());
        const bool build = built.size() > 4 && built.compare(built.size() - 4, 4, L"\\app") == 0;
        EXPECT_TRUE(ReadFileBytes(exe) == ReadFileBytes(step.exe) &&
                    ReadFileBytes(Folder() + L"\\PelloranLang.ini") == ReadFileBytes(WinPath(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini")) &&
                    ReadFileBytes(Folder() + L"\\pelloranctl.exe") ==
                        ReadFileBytes((build ? built.substr(0, built.size() - 4) + L"\\ctl" : built) + L"\\pelloranctl.exe")) << "the files as built";
        // Its target, as the link's LinkInfo holds it: the local base path, ended by a NUL, in the system's code page.
        EXPECT_NE(ReadFileBytes(Shortcut(IsMsi(step.package))).find(std::string(exe.begin(), exe.end()) + '\0'), std::string::npos) << "the shortcut's target";
        std::vector<Entry> entries = Entries(View());
        ASSERT_EQ(entries.size(), 1u);
        Entry& entry = entries[0];
        EXPECT_EQ(entry[L"DisplayVersion"], W(step.version));
        EXPECT_EQ(entry[L"Publisher"], VersionText(exe, L"CompanyName"));
        uintmax_t bytes = 0;
        for (const fs::directory_entry& item : fs::recursive_directory_iterator(Folder())) bytes += item.is_regular_file() ? item.file_size() : 0;
        EXPECT_EQ(entry[L"EstimatedSize"], std::to_wstring(bytes / 1024));
    }

    // Removes the package with its entry's quiet command: nothing of it stays, only the mode a run stored.
    void UninstallAndExpectNothingLeft(bool toolRan) {
        std::vector<Entry> entries = Entries(View());
        ASSERT_EQ(entries.size(), 1u);
        ASSERT_EQ(RunToCompletion(entries[0][L"QuietUninstallString"]), 0u);
        std::vector<std::wstring> changes, left;
        const std::set<std::wstring> after = Snapshot();
        for (const std::wstring& item : after) if (m_before.count(item) == 0) changes.push_back(L"+ " + item);
        for (const std::wstring& item : m_before) if (after.count(item) == 0) changes.push_back(L"- " + item);
        if (toolRan) left = {L"+ HKCU\\Software\\Tolvek", L"+ HKCU\\Software\\Tolvek\\Quenby", L"+ HKCU\\Software\\Tolvek\\Quenby [PelloranMode]"};
        EXPECT_EQ(changes, left);
        EXPECT_TRUE(RelatedProducts().empty());
    }

    std::set<std::wstring> m_before;
};

// Each step installed silently (an upgrade, a second install of the same version), each leaving one folder and one
// entry; the installed tool runs, and pelloranctl reads the state while its dialog is open (it takes no
// single-instance mutex); a silent removal leaves only the user's stored mode.
TEST_P(InstallTest, InstallsUpgradesReinstallsRunsAndLeavesOnlyTheUsersModeWhenRemoved) {
    for (const Step& step : P().steps) InstallAndExpectInstalled(step);
    if (!P().x86) {
        Captured ctl;
        const auto status = [&] { ctl = RunCaptured(L"\"" + Folder() + L"\\pelloranctl.exe\" status", FreshFolder("ctl-installed")); };
        EXPECT_NE(RunTool(Folder() + L"\\Pelloran.exe", status), L"<no dialog>");
        EXPECT_EQ(ctl.exit, 0u);
        EXPECT_EQ(ctl.out, "off\r\n") << ctl.err;
    }
    if (!P().keepUninstaller.empty()) {  // into a folder that tests/package/signed-packages made
        EXPECT_TRUE(::CopyFileW((Folder() + L"\\Uninstall.exe").c_str(), P().keepUninstaller.c_str(), FALSE));
    }
    UninstallAndExpectNothingLeft(!P().x86);
}

// Each package refuses to install where the other kind installed Pelloran (the setup program with exit code 3, the
// MSI with 1603), and leaves that installation as it was: its entry, and nothing behind once it is removed.
TEST_P(InstallTest, RefusesToInstallWhereTheOtherPackageInstalled) {
    if (P().other.empty()) GTEST_SKIP() << "the unsigned packages of this flavour show it";
    ASSERT_EQ(RunInstall(P().other), 0u);
    const std::vector<Entry> before = Entries(View());
    EXPECT_EQ(RunInstall(P().steps.back().package), IsMsi(P().other) ? 3u : DWORD{ERROR_INSTALL_FAILURE});
    EXPECT_EQ(Entries(View()), before);
    UninstallAndExpectNothingLeft(false);
}

INSTANTIATE_TEST_SUITE_P(Packages, InstallTest, ::testing::ValuesIn(Packages()),
                         [](const ::testing::TestParamInfo<Package>& info) { return info.param.name; });

// The zip, unpacked into a folder whose name has spaces and non-ASCII letters (tests/package/make-test-packages): the
// tool runs from there and reads the language file beside it.
TEST(PortableZip, RunsFromAFolderWithSpacesAndNonAsciiLettersAndReadsItsLanguageFile) {
    const std::wstring folder = ZipFolder();
    EXPECT_EQ(Names(folder), Shipped({L"README.txt"}));
    ExpectTemplateAndScript(folder);
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
    enum class Where { Nowhere, DefaultFolder, Entry32, Entry64 };  // where pelloranctl is, and how it is found
    struct Row { Where where; const char* scenario; const wchar_t* wanted; DWORD exit; std::string out; };
    const std::string is = "compliant: USB Charging is ", battery = is + "on, Adapter + Battery Mode";
    const Row rows[] = {
        {Where::Entry32, "InitialStatus=0x10000", L"off", 0, is + "off"},
        {Where::Entry32, "InitialStatus=0x10001", L"adapter", 0, is + "on, Adapter Mode"},
        {Where::Entry32, "InitialStatus=0x10001", L"battery", 0, ""},
        {Where::Entry64, "InitialStatus=0x10003", L"", 0, battery},  // the wanted state written at its top
        {Where::DefaultFolder, "InitialStatus=0x10003", L"", 0, battery},
        {Where::Nowhere, "InitialStatus=0x10003", L"", 1, ""},
        {Where::Entry32, "Instances=0", L"", 0, "not applicable: this machine has no USB Charging firmware"},
        {Where::Entry32, "Answers.device_status=WBEM_E_ACCESS_DENIED", L"", 4, ""},
    };
    const std::wstring key = std::wstring(kUninstall) + L"\\Pelloran", defaultFolder = KnownFolder(FOLDERID_ProgramFilesX86) + L"\\Pelloran";
    const auto clean = [&] {
        std::error_code ignored;
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), view, 0);
        fs::remove_all(defaultFolder, ignored);
    };
    const std::wstring script = ZipFolder() + L"\\Detect-UsbCharging.cmd";
    for (const Row& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        clean();
        SimRun run(FreshFolder("detect " + std::to_string(&row - rows)));  // a folder name with a space in it
        run.Scenario(row.scenario);
        if (row.where == Where::DefaultFolder) fs::create_directories(defaultFolder);
        if (row.where != Where::Nowhere) fs::copy_file(WinPath(PELLORAN_CTL_PATH), (row.where >= Where::Entry32 ? run.folder : defaultFolder) + L"\\pelloranctl.exe");
        if (row.where >= Where::Entry32) {  // as the MSI writes it, with its closing backslash, and as the setup program does, without
            const std::wstring location = row.where == Where::Entry32 ? run.folder + L"\\" : run.folder;
            const REGSAM view = row.where == Where::Entry32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
            HKEY created = nullptr;
            ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &created, nullptr), ERROR_SUCCESS);
            ::RegSetValueExW(created, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(location.c_str()), DWORD(location.size() * 2 + 2));
            ::RegCloseKey(created);
        }
        const Captured said = RunCaptured(L"cmd.exe /c \"\"" + script + L"\" " + row.wanted + L"\"", run.folder);
        EXPECT_EQ(said.exit, row.exit);
        EXPECT_EQ(said.out, row.out.empty() ? "" : row.out + "\r\n");
        EXPECT_EQ(said.err.empty(), row.exit == 0) << said.err;
    }
    clean();
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", nullptr);  // the package tests' own simulator again
}

// The setup caption of an NSIS translation: the line after "# ^SetupCaption", with our name in it.
TEST(SetupLanguage, FirstPageSpeaksTheUsersLanguage) {
    std::istringstream lines(ReadFileBytes(WinPath(PELLORAN_NSIS_LANGUAGES "/") + W(std::getenv("PELLORAN_SETUP_LANGUAGE")) + L".nlf"));
    std::string line;
    while (std::getline(lines, line) && line.rfind("# ^SetupCaption", 0) != 0) {}
    std::getline(lines, line);
    std::wstring caption = W(line.substr(0, line.find('\r')));
    ASSERT_NE(caption.find(L"$(^Name)"), std::wstring::npos) << "NSIS has no setup caption for this language";
    caption.replace(caption.find(L"$(^Name)"), 8, L"Pelloran");
    ToolProcess installer(WinPath(PELLORAN_PACKAGES "/current/Pelloran-") + W(PELLORAN_VERSION_TEXT) + W(PELLORAN_PACKAGE_SUFFIX) +
                          L"-setup.exe");  // ended, on its first page, at the end
    EXPECT_NE(WaitForWindow(installer.pid(), [&](HWND h) { return TextOf(h) == caption; }), nullptr)
        << "no page captioned " << testing::PrintToString(caption);
}

}  // namespace
