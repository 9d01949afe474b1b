// The dialog's texts in the language of the user's locale, from the language file beside the program,
// and its layout in that language's direction. ctest runs the first two tests once per locale it has
// compiled for Wine (LANG, LOCPATH), naming in PELLORAN_E2E_SECTION the section the locale must
// select; without it the locale is English.
#include "tests/e2e/E2eFixture.h"

#include <utility>

namespace e2e {
namespace {

using testsupport::StateOf;

std::wstring ExpectedSection() {
    wchar_t section[16] = {};
    return ::GetEnvironmentVariableW(L"PELLORAN_E2E_SECTION", section, 16) > 0 ? section : L"1";
}

class LanguageTest : public E2eTest {};

// The sections of the languages written from right to left: Arabic and Persian.
bool ReadsRightToLeft(const std::wstring& section) { return section == L"600" || section == L"619"; }

DWORD ExStyleOf(HWND window) { return static_cast<DWORD>(::GetWindowLongW(window, GWL_EXSTYLE)); }

RECT ScreenRectOf(HWND dialog, int id) {
    RECT rect{};
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    return rect;
}

TEST_F(LanguageTest, EveryTextComesFromTheLocalesSection) {
    const std::wstring section = ExpectedSection();
    SCOPED_TRACE(testing::Message() << "section " << section.c_str());
    ASSERT_FALSE(ShippedText(section.c_str(), 9).empty()) << "the shipped file lacks the section";
    FirmwareState(0x10001);
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(testsupport::TextOf(dialog), L"Pelloran") << "the caption is never translated";
    EXPECT_EQ(StateOf(dialog, kStatusLabel).text, ShippedText(section.c_str(), 8));
    EXPECT_EQ(StateOf(dialog, kEnable).text, ShippedText(section.c_str(), 9));
    EXPECT_EQ(StateOf(dialog, kStatusText).text, ShippedText(section.c_str(), 9));
    EXPECT_EQ(StateOf(dialog, kDisable).text, ShippedText(section.c_str(), 10));
    EXPECT_EQ(StateOf(dialog, kAdapter).text, ShippedText(section.c_str(), 11));
    EXPECT_EQ(StateOf(dialog, kAdapterBattery).text, ShippedText(section.c_str(), 12));

    std::wstring description;
    for (int key = 1; key <= 7; ++key) {
        if (key > 1) description += L"\r\n";
        if (key == 4) description += L"\r\n";  // an empty line between the third and fourth paragraphs
        description += ShippedText(section.c_str(), key);
    }
    EXPECT_EQ(StateOf(dialog, kDescription).text, description);

    testsupport::Click(dialog, kDisable);
    EXPECT_EQ(StateOf(dialog, kStatusText).text, ShippedText(section.c_str(), 10));
}

// How far a control starts from the edge where reading starts (the right edge for a language
// written from right to left), in screen pixels, as a user sees it.
struct ReadingOrder {
    RECT client;
    bool rightToLeft;
    long StartOf(const RECT& control) const {
        return rightToLeft ? client.right - control.right : control.left - client.left;
    }
    long EndOf(const RECT& control) const {
        return rightToLeft ? client.right - control.left : control.right - client.left;
    }
};

TEST_F(LanguageTest, LayoutFollowsTheLanguagesDirection) {
    const std::wstring section = ExpectedSection();
    const bool rightToLeft = ReadsRightToLeft(section);
    SCOPED_TRACE(testing::Message() << "section " << section.c_str() << (rightToLeft ? ", right to left" : ""));
    FirmwareState(0x10001);
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);

    // The extended styles: the English dialog's as they always were; a right-to-left language's
    // dialog mirrored, and every control mirrored with it and reading from right to left.
    const DWORD mirrored = rightToLeft ? WS_EX_LAYOUTRTL : 0;
    const DWORD reading = rightToLeft ? WS_EX_RTLREADING : 0;
    EXPECT_EQ(ExStyleOf(dialog), DWORD(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE) | mirrored);
    const std::pair<int, DWORD> kControls[] = {
        {kStatusLabel, WS_EX_NOPARENTNOTIFY}, {kStatusText, WS_EX_NOPARENTNOTIFY}, {kEnable, WS_EX_NOPARENTNOTIFY},
        {kDisable, WS_EX_NOPARENTNOTIFY}, {kAdapter, WS_EX_NOPARENTNOTIFY}, {kAdapterBattery, WS_EX_NOPARENTNOTIFY},
        {kDescription, WS_EX_NOPARENTNOTIFY | WS_EX_CLIENTEDGE}};
    for (const auto& [id, exStyle] : kControls)
        EXPECT_EQ(ExStyleOf(::GetDlgItem(dialog, id)), exStyle | mirrored | reading) << "control " << id;

    // The order a user sees, counted from where reading starts: the label, then the state; Enable,
    // then Disable; the label, the description and the radio buttons each lined up at their start.
    WINDOWINFO info{sizeof(info)};
    ASSERT_TRUE(::GetWindowInfo(dialog, &info));
    const ReadingOrder order{info.rcClient, rightToLeft};
    const RECT label = ScreenRectOf(dialog, kStatusLabel), state = ScreenRectOf(dialog, kStatusText);
    const RECT enable = ScreenRectOf(dialog, kEnable), disable = ScreenRectOf(dialog, kDisable);
    const RECT adapter = ScreenRectOf(dialog, kAdapter), adapterBattery = ScreenRectOf(dialog, kAdapterBattery);
    const RECT description = ScreenRectOf(dialog, kDescription);
    EXPECT_GT(order.StartOf(label), 0);
    EXPECT_GT(order.StartOf(state), order.EndOf(label) - 2) << "the state follows its label";
    EXPECT_GT(order.StartOf(disable), order.EndOf(enable)) << "Enable comes first";
    EXPECT_EQ(order.StartOf(label), order.StartOf(description));
    EXPECT_EQ(order.StartOf(adapter), order.StartOf(adapterBattery));
    EXPECT_GT(order.StartOf(adapter), order.StartOf(description));
    EXPECT_LT(order.EndOf(state), order.EndOf(description)) << "the state stays inside the dialog";

    // The about box is the same in every language: never mirrored, read from left to right.
    ::PostMessageW(dialog, WM_SYSCOMMAND, 0x0010, 0);
    HWND about = testsupport::WaitForWindow(m_tool->pid(), L"關於 Pelloran", 10000);
    ASSERT_NE(about, nullptr) << "no about box";
    EXPECT_EQ(ExStyleOf(about) & (WS_EX_LAYOUTRTL | WS_EX_RTLREADING), 0u);
    for (HWND child = ::GetWindow(about, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT))
        EXPECT_EQ(ExStyleOf(child) & (WS_EX_LAYOUTRTL | WS_EX_RTLREADING), 0u);
    RECT ok{}, aboutWindow{};
    ::GetWindowRect(::GetDlgItem(about, IDOK), &ok);
    ::GetWindowRect(about, &aboutWindow);
    EXPECT_GT(ok.left - aboutWindow.left, aboutWindow.right - ok.right) << "OK stands at the right";
    ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 500 && ::IsWindow(about); ++i) ::Sleep(10);
}

TEST_F(LanguageTest, WithoutALanguageFileEveryTextIsEmpty) {
    UseOwnCopy("");
    FirmwareState(0x10001);
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    for (int id : {kStatusLabel, kStatusText, kEnable, kDisable, kAdapter, kAdapterBattery})
        EXPECT_EQ(StateOf(dialog, id).text, L"") << "control " << id;
    EXPECT_EQ(StateOf(dialog, kDescription).text, L"\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
    // The firmware part works all the same.
    EXPECT_EQ(ControlValuesSent(), std::vector<int>{1});
    testsupport::Click(dialog, kDisable);
    EXPECT_EQ(ControlValuesSent(), (std::vector<int>{1, 0}));
    EXPECT_EQ(StateOf(dialog, kStatusText).text, L"");
}

TEST_F(LanguageTest, SectionWithS0PutsItAfterEveryLineBreak) {
    const std::wstring text = L"\xFEFF[1]\r\nS0=~\r\nS1=a\r\nS2=b\r\nS3=c\r\nS4=d\r\nS5=e\r\nS6=f\r\nS7=g\r\n";
    UseOwnCopy(std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
    Scenario({L"ConnectHr=E_FAIL"});
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(StateOf(dialog, kDescription).text, L"a\r\n~b\r\n~c\r\n~\r\n~d\r\n~e\r\n~f\r\n~g");
}

}  // namespace
}  // namespace e2e
