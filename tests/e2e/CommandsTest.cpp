// The dialog's commands as a user gives them: Enable, Disable, the two modes, closing, the about box,
// and a second copy started while the dialog is open.
#include "tests/e2e/E2eFixture.h"

namespace e2e {
namespace {

using testsupport::Click;
using testsupport::StateOf;

class CommandsTest : public E2eTest {
protected:
    std::wstring OnText() const { return ShippedText(L"1", 9); }
    std::wstring OffText() const { return ShippedText(L"1", 10); }
};

TEST_F(CommandsTest, EnableFromOffSendsTheCheckedMode) {
    FirmwareState(0x10000);
    StoreModeDword(0);
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, kEnable);
    EXPECT_EQ(ControlValuesSent(), std::vector<int>{3});
    EXPECT_EQ(StateOf(dialog, kStatusText).text, OnText());
    EXPECT_FALSE(StateOf(dialog, kEnable).enabled);
    EXPECT_TRUE(StateOf(dialog, kDisable).enabled);
    EXPECT_TRUE(StateOf(dialog, kAdapter).enabled);
    EXPECT_TRUE(StateOf(dialog, kAdapterBattery).enabled);
    EXPECT_TRUE(StateOf(dialog, kAdapterBattery).checked);
    EXPECT_EQ(FirmwareStateNow(), 0x10003u);
}

TEST_F(CommandsTest, DisableSendsOffAndKeepsTheModeForTheNextEnable) {
    FirmwareState(0x10003);
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, kDisable);
    EXPECT_EQ(ControlValuesSent(), (std::vector<int>{3, 0}));
    EXPECT_EQ(StateOf(dialog, kStatusText).text, OffText());
    EXPECT_TRUE(StateOf(dialog, kEnable).enabled);
    EXPECT_FALSE(StateOf(dialog, kDisable).enabled);
    EXPECT_FALSE(StateOf(dialog, kAdapter).enabled);
    EXPECT_FALSE(StateOf(dialog, kAdapterBattery).enabled);
    EXPECT_TRUE(StateOf(dialog, kAdapterBattery).checked) << "Disable keeps the check";
    EXPECT_EQ(FirmwareStateNow(), 0x10000u);

    Click(dialog, kEnable);
    EXPECT_EQ(ControlValuesSent(), (std::vector<int>{3, 0, 3}));
}

TEST_F(CommandsTest, EachModeClickSendsItsValueEvenWhenAlreadyChecked) {
    FirmwareState(0x10003);
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, kAdapter);
    Click(dialog, kAdapter);
    EXPECT_TRUE(StateOf(dialog, kAdapter).checked);
    EXPECT_FALSE(StateOf(dialog, kAdapterBattery).checked);
    Click(dialog, kAdapterBattery);
    EXPECT_EQ(ControlValuesSent(), (std::vector<int>{3, 1, 1, 3}));
    EXPECT_EQ(StateOf(dialog, kStatusText).text, OnText()) << "a mode click changes no text";
}

TEST_F(CommandsTest, WithoutTheFirmwareTheCommandsOnlyChangeTheDialog) {
    Scenario({L"ConnectHr=WBEM_E_INVALID_NAMESPACE"});
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, kDisable);
    EXPECT_EQ(StateOf(dialog, kStatusText).text, OffText());
    EXPECT_TRUE(StateOf(dialog, kEnable).enabled);
    Click(dialog, kEnable);
    Click(dialog, kAdapterBattery);
    Click(dialog, kAdapter);
    EXPECT_EQ(StateOf(dialog, kStatusText).text, OnText());
    for (const LogEntry& entry : Log()) EXPECT_NE(entry.event, L"ExecMethod");
    EXPECT_EQ(CloseDialog(), 0u);
    EXPECT_TRUE(ReadStoredMode().IsDword(1));
}

TEST_F(CommandsTest, StateTextIsReadAnewFromTheLanguageFile) {
    auto file = [](const wchar_t* offText) {
        std::wstring text = std::wstring(L"\xFEFF[1]\r\nS9=Enable\r\nS10=") + offText + L"\r\n";
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    };
    UseOwnCopy(file(L"Disable"));
    FirmwareState(0x10001);
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    // The file changes while the dialog is open: the next Disable shows the new text in the state,
    // while the button keeps the text it was given at the start.
    WriteLanguageFile(file(L"Now off"));
    Click(dialog, kDisable);
    EXPECT_EQ(StateOf(dialog, kStatusText).text, L"Now off");
    EXPECT_EQ(StateOf(dialog, kDisable).text, L"Disable");
}

TEST_F(CommandsTest, ClosingStoresTheCheckedMode) {
    const struct {
        DWORD firmware;
        int clickBefore;  // 0: none
        DWORD stored;
    } cases[] = {
        {0x10001, 0, 1},                // on, Adapter Mode
        {0x10003, 0, 0},                // on, Adapter + Battery Mode
        {0x10001, kDisable, 1},         // switched off, Adapter Mode kept
        {0x10003, kAdapter, 1},         // mode changed, then closed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.firmware << " click " << std::dec << c.clickBefore);
        StoreModeDword(7);
        FirmwareState(c.firmware);
        Start();
        m_dialog = nullptr;
        HWND dialog = Dialog();
        ASSERT_NE(dialog, nullptr);
        if (c.clickBefore != 0) Click(dialog, c.clickBefore);
        EXPECT_EQ(CloseDialog(), 0u);
        EXPECT_TRUE(ReadStoredMode().IsDword(c.stored));
    }
}

TEST_F(CommandsTest, ClosingWhileOffOrWithoutFirmwareStoresTooAndOverAnyType) {
    const wchar_t text[] = L"ab";
    StoreMode(REG_SZ, text, sizeof(text));
    Scenario({L"ConnectHr=E_ACCESSDENIED"});
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, kAdapterBattery);
    EXPECT_EQ(CloseDialog(), 0u);
    EXPECT_TRUE(ReadStoredMode().IsDword(0));
}

TEST_F(CommandsTest, EscapeAndEnterCloseTheDialogToo) {
    for (UINT command : {static_cast<UINT>(IDCANCEL), static_cast<UINT>(IDOK)}) {
        SCOPED_TRACE(command);
        FirmwareState(0x10003);
        Start();
        m_dialog = nullptr;
        HWND dialog = Dialog();
        ASSERT_NE(dialog, nullptr);
        // What the dialog manager sends for the Escape and Enter keys.
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
        EXPECT_EQ(m_tool->WaitForExit(15000), 0u);
        EXPECT_TRUE(ReadStoredMode().IsDword(0));
    }
}

TEST_F(CommandsTest, AboutEntryOpensTheAboutBoxOwnedByTheDialog) {
    FirmwareState(0x10001);
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    for (WPARAM command : {WPARAM{0x0010}, WPARAM{0x001F}, WPARAM{0x00010013}}) {
        SCOPED_TRACE(command);
        ::PostMessageW(dialog, WM_SYSCOMMAND, command, 0);
        HWND about = testsupport::WaitForWindow(m_tool->pid(), L"關於 Pelloran", 10000);
        ASSERT_NE(about, nullptr) << "no about box";
        EXPECT_EQ(::GetWindow(about, GW_OWNER), dialog);
        EXPECT_FALSE(::IsWindowEnabled(dialog)) << "the dialog stays disabled while the about box is open";
        EXPECT_EQ(testsupport::TextOf(::GetDlgItem(about, IDOK)), L"確定");
        ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(command == 0x0010 ? IDOK : IDCANCEL, BN_CLICKED), 0);
        for (int i = 0; i < 500 && ::IsWindow(about); ++i) ::Sleep(10);
        EXPECT_FALSE(::IsWindow(about));
        EXPECT_TRUE(::IsWindowEnabled(dialog));
    }
    // A command next to it is not the about entry: default processing, nothing opens.
    ::PostMessageW(dialog, WM_SYSCOMMAND, 0x0020, 0);
    EXPECT_EQ(testsupport::WaitForWindow(m_tool->pid(), L"關於 Pelloran", 500), nullptr);
    EXPECT_TRUE(m_tool->running());
}

TEST_F(CommandsTest, SecondCopyEndsAtOnceWhileTheDialogIsOpen) {
    FirmwareState(0x10001);
    Start();
    ASSERT_NE(Dialog(), nullptr);
    testsupport::ToolProcess second(m_exe);
    EXPECT_EQ(second.WaitForExit(15000), 0u);
    EXPECT_TRUE(testsupport::VisibleWindowsOf(second.pid()).empty());
    EXPECT_EQ(StatusReads(), 1) << "the second copy must not talk to the firmware";
    EXPECT_TRUE(m_tool->running());
}

}  // namespace
}  // namespace e2e
