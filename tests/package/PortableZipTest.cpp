// The zip, unpacked into a folder whose name has spaces and non-ASCII letters (as a user's "Extract
// all" into a folder of their own makes it): the tool runs from there and reads its texts from the
// language file beside it.
#include "tests/package/Installation.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>

namespace {

TEST(PortableZipTest, RunsFromAFolderWithSpacesAndNonAsciiLetters) {
    const std::wstring unpacked = testsupport::WinPath(PELLORAN_PACKAGES "/zip");
    const std::vector<std::wstring> folders = installation::Names(unpacked);
    ASSERT_EQ(folders.size(), 1u) << "the zip is unpacked into one folder";
    const std::wstring& name = folders[0];
    EXPECT_NE(name.find(L' '), std::wstring::npos);
    EXPECT_TRUE(std::any_of(name.begin(), name.end(), [](wchar_t c) { return c > 0x7F; }));
    const std::wstring folder = unpacked + L"\\" + name;
    EXPECT_EQ(installation::Names(folder),
              (std::vector<std::wstring>{L"Pelloran.exe", L"PelloranLang.ini", L"README.txt"}));

    std::string readme = testsupport::ReadFileBytes(folder + L"\\README.txt");
    std::transform(readme.begin(), readme.end(), readme.begin(), [](char c) { return std::tolower(c); });
    EXPECT_NE(readme.find("administrator rights"), std::string::npos) << "the text says the tool asks for them";

    testsupport::ToolProcess tool(folder + L"\\Pelloran.exe");
    ASSERT_TRUE(tool.started());
    HWND dialog = testsupport::WaitForSettingsDialog(tool.pid(), 20000);
    ASSERT_NE(dialog, nullptr) << "the tool showed no dialog";
    // The description comes only from the language file: the tool found it beside itself.
    wchar_t first[1000] = {};
    ::GetPrivateProfileStringW(L"1", L"S1", L"", first, 1000, (folder + L"\\PelloranLang.ini").c_str());
    ASSERT_GT(wcslen(first), 0u);
    EXPECT_EQ(testsupport::StateOf(dialog, 1013).text.rfind(first, 0), 0u);
    ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(tool.WaitForExit(20000), 0u);
    installation::DeleteUserKey(L"Software\\Tolvek");
}

}  // namespace
