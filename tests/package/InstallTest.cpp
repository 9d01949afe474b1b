// The setup program and the MSI, each installed silently for real in the packaging prefix: their
// files, shortcut and "Programs and Features" entry, the installed tool started against the firmware
// simulator, an upgrade from an older version, a second install of the same one, and a silent removal
// after which nothing is left but the user's stored mode.
#include "res/version.h"
#include "tests/package/Installation.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace {

using installation::Entry;
using installation::KnownFolder;
using installation::Names;

constexpr DWORD kInstallMs = 120000;
constexpr wchar_t kProduct[] = L"Pelloran";

std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }

// One package under test: the current version and an older one, where it installs, whether the
// installed tool can run here.
struct Package {
    const char* name;
    bool msi;
    std::wstring current;
    std::wstring older;
    std::wstring sourceExe;  // the build's Pelloran.exe that the package holds
    REGSAM view;             // the registry view its entry lives in
    KNOWNFOLDERID programFiles;
    bool runs;
};

void PrintTo(const Package& package, std::ostream* out) { *out << package.name; }

std::vector<Package> Packages() {
    const std::wstring dir = testsupport::WinPath(PELLORAN_PACKAGES);
    const std::wstring name = L"Pelloran-" + Widen(PELLORAN_VERSION_TEXT) + Widen(PELLORAN_PACKAGE_SUFFIX);
    const std::wstring older = L"Pelloran-" + Widen(PELLORAN_OLDER_VERSION) + Widen(PELLORAN_PACKAGE_SUFFIX);
    const std::wstring exe = testsupport::ToolPath();
    std::vector<Package> packages = {
        {"Setup", false, dir + L"\\current\\" + name + L"-setup.exe", dir + L"\\older\\" + older + L"-setup.exe",
         exe, 0, FOLDERID_ProgramFiles, true},
        {"Msi", true, dir + L"\\current\\" + name + L".msi", dir + L"\\older\\" + older + L".msi", exe, 0,
         FOLDERID_ProgramFiles, true},
    };
#ifdef PELLORAN_X86_BUILD
    // In the 64-bit flavour, the product's 32-bit MSI too: the 64-bit msiexec installs it into the 32-bit
    // Program Files and registry view. Its tool is not started: this flavour's machine may run no
    // 32-bit code.
    const std::wstring x86 = L"Pelloran-" + Widen(PELLORAN_VERSION_TEXT);
    const std::wstring x86Older = L"Pelloran-" + Widen(PELLORAN_OLDER_VERSION);
    packages.push_back({"X86Msi", true, dir + L"\\x86\\current\\" + x86 + L".msi",
                        dir + L"\\x86\\older\\" + x86Older + L".msi",
                        testsupport::WinPath(PELLORAN_X86_BUILD "/app/Pelloran.exe"), KEY_WOW64_32KEY,
                        FOLDERID_ProgramFilesX86, false});
#endif
    return packages;
}

// The folder Windows Installer puts a package's ProgramMenuFolder shortcuts in.
std::wstring MsiProgramMenuFolder(const std::wstring& package) {
    ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr /* keep the window */);
    MSIHANDLE handle = 0;
    if (::MsiOpenPackageW(package.c_str(), &handle) != ERROR_SUCCESS) return L"";
    wchar_t folder[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    ::MsiGetPropertyW(handle, L"ProgramMenuFolder", folder, &length);
    ::MsiCloseHandle(handle);
    std::wstring path = folder;
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

// The installed products that share our packages' upgrade code.
std::vector<std::wstring> RelatedProducts() {
    std::vector<std::wstring> products;
    wchar_t code[39];
    for (DWORD i = 0; ::MsiEnumRelatedProductsW(PELLORAN_UPGRADE_CODE, 0, i, code) == ERROR_SUCCESS; ++i)
        products.push_back(code);
    return products;
}

class InstallTest : public ::testing::TestWithParam<Package> {
protected:
    void SetUp() override {
        // Windows Installer's own folder and keys, which every Windows has and a fresh prefix gets
        // with its first package: they are no part of ours.
        wchar_t windows[MAX_PATH] = {};
        ::GetWindowsDirectoryW(windows, MAX_PATH);
        ::CreateDirectoryW((std::wstring(windows) + L"\\Installer").c_str(), nullptr);
        for (const wchar_t* key :
             {L"Software\\Classes\\Installer\\Features", L"Software\\Classes\\Installer\\Products",
              L"Software\\Classes\\Installer\\UpgradeCodes",
              L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes",
              L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components",
              L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products"}) {
            HKEY created = nullptr;
            ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr /* no class */, 0, KEY_READ,
                              nullptr /* default security */, &created, nullptr);
            ::RegCloseKey(created);
        }
        installation::DeleteUserKey(L"Software\\Tolvek");
        RemoveEarlierInstallation();
        ASSERT_TRUE(installation::VisibleEntries(P().view, kProduct).empty()) << "Pelloran cannot be removed";
        m_before = installation::Snapshot();
    }

    // A run that failed half-way may have left Pelloran installed, or part of it: it goes first, so
    // that every test starts from a machine without it.
    void RemoveEarlierInstallation() {
        for (Entry& entry : installation::VisibleEntries(P().view, kProduct))
            installation::RunToCompletion(entry.strings[L"QuietUninstallString"], kInstallMs);
        for (const std::wstring& product : RelatedProducts())
            installation::RunToCompletion(L"msiexec.exe /x " + product + L" /qn", kInstallMs);
        for (const std::wstring& folder : {KnownFolder(FOLDERID_CommonPrograms), MsiProgramMenuFolder(P().current)})
            ::DeleteFileW((folder + L"\\Pelloran.lnk").c_str());
        for (const std::wstring& name : Names(Folder())) ::DeleteFileW((Folder() + L"\\" + name).c_str());
        ::RemoveDirectoryW(Folder().c_str());
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pelloran",
                          P().view, 0);
    }

    const Package& P() const { return GetParam(); }
    std::wstring Folder() const { return KnownFolder(P().programFiles) + L"\\Pelloran"; }
    std::wstring ShortcutFolder() const {
        return P().msi ? MsiProgramMenuFolder(P().current) : KnownFolder(FOLDERID_CommonPrograms);
    }

    void Install(const std::wstring& package) {
        const std::wstring line =
            P().msi ? L"msiexec.exe /i \"" + package + L"\" /qn" : L"\"" + package + L"\" /S";
        EXPECT_EQ(installation::RunToCompletion(line, kInstallMs), 0u) << testing::PrintToString(line);
    }

    // Files, shortcut and entry of an installed version.
    void ExpectInstalled(const std::wstring& version) {
        SCOPED_TRACE(testing::Message() << "installed version " << testing::PrintToString(version));
        const std::wstring folder = Folder();
        const std::wstring exe = folder + L"\\Pelloran.exe";
        std::vector<std::wstring> files = {L"Pelloran.exe", L"PelloranLang.ini"};
        if (!P().msi) files.push_back(L"Uninstall.exe");
        EXPECT_EQ(Names(folder), files);
        EXPECT_EQ(Names(KnownFolder(P().programFiles), L"Pelloran*"), std::vector<std::wstring>{L"Pelloran"});
        EXPECT_TRUE(testsupport::ReadFileBytes(exe) == testsupport::ReadFileBytes(P().sourceExe));
        EXPECT_TRUE(testsupport::ReadFileBytes(folder + L"\\PelloranLang.ini") ==
                    testsupport::ReadFileBytes(testsupport::WinPath(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini")));
        EXPECT_EQ(installation::ShortcutTarget(ShortcutFolder() + L"\\Pelloran.lnk"), exe);

        const std::vector<Entry> entries = installation::VisibleEntries(P().view, kProduct);
        ASSERT_EQ(entries.size(), 1u);
        Entry entry = entries[0];
        EXPECT_EQ(entry.strings[L"DisplayVersion"], version);
        const std::wstring company = installation::VersionString(exe, L"CompanyName");
        EXPECT_FALSE(company.empty());
        EXPECT_EQ(entry.strings[L"Publisher"], company);
        EXPECT_EQ(entry.strings[L"DisplayIcon"], exe + L",0");
        EXPECT_EQ(entry.numbers[L"EstimatedSize"], installation::FolderBytes(folder) / 1024);
        EXPECT_EQ(entry.numbers[L"NoModify"], 1u);
        EXPECT_EQ(entry.numbers[L"NoRepair"], 1u);
        if (P().msi) {
            const std::vector<std::wstring> products = RelatedProducts();
            ASSERT_EQ(products.size(), 1u) << "one Windows Installer product";
            wchar_t installed[32] = {};
            DWORD length = 32;
            ::MsiGetProductInfoW(products[0].c_str(), INSTALLPROPERTY_VERSIONSTRING, installed, &length);
            EXPECT_EQ(installed, version);
            EXPECT_EQ(entry.strings[L"UninstallString"], L"MsiExec.exe /X" + products[0]);
            EXPECT_EQ(entry.strings[L"QuietUninstallString"], L"MsiExec.exe /X" + products[0] + L" /qn");
        } else {
            EXPECT_EQ(entry.strings[L"UninstallString"], L"\"" + folder + L"\\Uninstall.exe\"");
            EXPECT_EQ(entry.strings[L"QuietUninstallString"], L"\"" + folder + L"\\Uninstall.exe\" /S");
        }
    }

    // Starts the installed tool, waits for its dialog and closes it: the tool stores the user's mode.
    void RunInstalledTool() {
        testsupport::ToolProcess tool(Folder() + L"\\Pelloran.exe");
        ASSERT_TRUE(tool.started());
        HWND dialog = testsupport::WaitForSettingsDialog(tool.pid(), 20000);
        ASSERT_NE(dialog, nullptr) << "the installed tool showed no dialog";
        ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(tool.WaitForExit(20000), 0u);
    }

    // Removes the package with its entry's quiet command; nothing of it may stay.
    void UninstallAndExpectNothingLeft(bool toolRan) {
        const std::vector<Entry> entries = installation::VisibleEntries(P().view, kProduct);
        ASSERT_EQ(entries.size(), 1u);
        const std::wstring quiet = entries[0].strings.at(L"QuietUninstallString");
        ASSERT_EQ(installation::RunToCompletion(quiet, kInstallMs), 0u) << testing::PrintToString(quiet);
        std::vector<std::wstring> left;
        if (toolRan)
            left = {L"+ HKCU\\Software\\Tolvek", L"+ HKCU\\Software\\Tolvek\\Quenby",
                    L"+ HKCU\\Software\\Tolvek\\Quenby [PelloranMode]"};
        EXPECT_EQ(installation::Difference(m_before, installation::Snapshot()), left);
        if (P().msi) {
            EXPECT_TRUE(RelatedProducts().empty());
        }
    }

    std::set<std::wstring> m_before;
};

TEST_P(InstallTest, InstallsSilentlyRunsAndLeavesOnlyTheUsersModeWhenRemoved) {
    Install(P().current);
    ExpectInstalled(Widen(PELLORAN_VERSION_TEXT));
    if (P().runs) RunInstalledTool();
    UninstallAndExpectNothingLeft(P().runs);
}

TEST_P(InstallTest, UpgradeAndReinstallKeepOneFolderAndOneEntry) {
    Install(P().older);
    ExpectInstalled(Widen(PELLORAN_OLDER_VERSION));
    Install(P().current);
    ExpectInstalled(Widen(PELLORAN_VERSION_TEXT));
    Install(P().current);
    ExpectInstalled(Widen(PELLORAN_VERSION_TEXT));
    UninstallAndExpectNothingLeft(false);
}

INSTANTIATE_TEST_SUITE_P(Packages, InstallTest, ::testing::ValuesIn(Packages()),
                         [](const ::testing::TestParamInfo<Package>& info) { return std::string(info.param.name); });

}  // namespace
