// The setup program's own pages in the user's language: ctest starts it once per locale compiled for
// Wine (LANG, LOCPATH) and names in PELLORAN_SETUP_LANGUAGE the NSIS translation whose caption the
// first page must carry.
#include "res/version.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::wstring Utf8ToWide(const std::string& text) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

// The setup caption of an NSIS translation: the line after "# ^SetupCaption", with our name in it.
std::wstring SetupCaption(const std::wstring& language) {
    std::istringstream lines(
        testsupport::ReadFileBytes(testsupport::WinPath(PELLORAN_NSIS_LANGUAGES "/") + language + L".nlf"));
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("# ^SetupCaption", 0) == 0 && std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::wstring caption = Utf8ToWide(line);
            const std::wstring name = L"$(^Name)";
            const size_t at = caption.find(name);
            if (at != std::wstring::npos) caption.replace(at, name.size(), L"Pelloran");
            return caption;
        }
    return L"";
}

TEST(SetupLanguageTest, FirstPageSpeaksTheUsersLanguage) {
    wchar_t language[64] = {};
    ASSERT_GT(::GetEnvironmentVariableW(L"PELLORAN_SETUP_LANGUAGE", language, 64), 0u);
    const std::wstring expected = SetupCaption(language);
    ASSERT_FALSE(expected.empty()) << "NSIS has no setup caption for this language";

    const std::string version = PELLORAN_VERSION_TEXT;
    const std::wstring setup = testsupport::WinPath(PELLORAN_PACKAGES "/current/Pelloran-") +
                               std::wstring(version.begin(), version.end()) + Utf8ToWide(PELLORAN_PACKAGE_SUFFIX) +
                               L"-setup.exe";
    testsupport::ToolProcess installer(setup);  // ended, on its first page, when the test is over
    ASSERT_TRUE(installer.started());
    HWND page = testsupport::WaitForWindow(installer.pid(), expected.c_str(), 20000);
    std::wstring seen;
    if (page == nullptr)
        for (HWND window : testsupport::VisibleWindowsOf(installer.pid()))
            seen += L"\"" + testsupport::TextOf(window) + L"\" ";
    EXPECT_NE(page, nullptr) << "expected " << testing::PrintToString(expected) << ", saw "
                             << testing::PrintToString(seen);
}

}  // namespace
