// What the dialog shows when it opens, for every answer the firmware can give, and the firmware
// calls each start makes and must not make.
#include "tests/e2e/E2eFixture.h"

namespace e2e {
namespace {

using testsupport::StateOf;

// What a user sees of the switch and the mode.
struct View {
    bool on;  // the state text is the on text (else the off text)
    bool enableEnabled, disableEnabled;
    bool adapterEnabled, adapterChecked;
    bool batteryEnabled, batteryChecked;
};

constexpr View kOnAdapter{true, false, true, true, true, true, false};
constexpr View kOnBattery{true, false, true, true, false, true, true};
constexpr View kOffAdapter{false, true, false, false, true, false, false};
constexpr View kOffBattery{false, true, false, false, false, false, true};

class StartupOutcomesTest : public E2eTest {
protected:
    void ExpectView(const View& want) {
        HWND dialog = Dialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(StateOf(dialog, kStatusText).text, ShippedText(L"1", want.on ? 9 : 10));
        EXPECT_EQ(StateOf(dialog, kEnable).enabled, want.enableEnabled);
        EXPECT_EQ(StateOf(dialog, kDisable).enabled, want.disableEnabled);
        EXPECT_EQ(StateOf(dialog, kAdapter).enabled, want.adapterEnabled);
        EXPECT_EQ(StateOf(dialog, kAdapter).checked, want.adapterChecked);
        EXPECT_EQ(StateOf(dialog, kAdapterBattery).enabled, want.batteryEnabled);
        EXPECT_EQ(StateOf(dialog, kAdapterBattery).checked, want.batteryChecked);
    }

    // The fatal message: besides its text, its caption, icon and single OK button, owned by the
    // still hidden dialog.
    void ExpectFatalMessageBox(const wchar_t* text) {
        ExpectFatalMessage(text, [](HWND box) {
            EXPECT_EQ(testsupport::TextOf(box), L"Pelloran");
            HWND icon = ::GetDlgItem(box, 1088);
            ASSERT_NE(icon, nullptr);
            EXPECT_NE(::SendMessageW(icon, STM_GETICON, 0, 0), 0) << "no exclamation icon";
            EXPECT_NE(::GetDlgItem(box, IDOK), nullptr);
            EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr);
            HWND owner = ::GetWindow(box, GW_OWNER);
            ASSERT_NE(owner, nullptr) << "the message box has no owner";
            EXPECT_NE(::GetDlgItem(owner, kEnable), nullptr) << "the owner is not the settings dialog";
            EXPECT_FALSE(::IsWindowVisible(owner)) << "the dialog showed before its initialisation ended";
        });
    }
};

TEST_F(StartupOutcomesTest, NotConnectedShowsTheDefaultAndNeverCallsTheFirmware) {
    Scenario({L"ConnectHr=WBEM_E_ACCESS_DENIED"});
    Start();
    ExpectView(kOnAdapter);
    EXPECT_EQ(StatusReads(), 0);
    EXPECT_EQ(CloseDialog(), 0u);
    EXPECT_TRUE(ControlValuesSent().empty());
}

TEST_F(StartupOutcomesTest, OffShowsTheStoredModeAndSendsNothing) {
    const struct {
        int stored;  // -1: nothing stored yet
        const View& view;
        DWORD storedAfterwards;
    } cases[] = {
        {1, kOffAdapter, 1},
        {0, kOffBattery, 0},
        {-1, kOffAdapter, 1},  // the first run stores "Adapter Mode"
        {5, kOffBattery, 5},   // an unknown number is kept until the dialog closes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        FirmwareState(0x10000);
        if (c.stored >= 0) StoreModeDword(static_cast<DWORD>(c.stored)); else ForgetStoredMode();
        ::DeleteFileW((m_folder + L"\\sim.log").c_str());
        m_dialog = nullptr;
        Start();
        ExpectView(c.view);
        EXPECT_EQ(StatusReads(), 1);
        EXPECT_TRUE(ControlValuesSent().empty());
        EXPECT_TRUE(ReadStoredMode().IsDword(c.storedAfterwards));
        EXPECT_EQ(CloseDialog(), 0u);
    }
    EXPECT_TRUE(ReadStoredMode().IsDword(0)) << "closing with Adapter + Battery Mode stores 0";
}

TEST_F(StartupOutcomesTest, OnIsShownAndItsModeSentBackOnce) {
    const struct {
        const wchar_t* scenario;
        const View& view;
        int sent;
    } cases[] = {
        {L"StatusWord=0x10001", kOnAdapter, 1},
        {L"StatusWord=0x10003", kOnBattery, 3},
        {L"StatusWord=0xFFFFFF03", kOnBattery, 3},  // bits beside the presence bit and mode byte are ignored
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        Scenario({c.scenario});
        ::DeleteFileW((m_folder + L"\\sim.log").c_str());
        m_dialog = nullptr;
        Start();
        ExpectView(c.view);
        EXPECT_EQ(ControlValuesSent(), std::vector<int>{c.sent});
        EXPECT_EQ(CloseDialog(), 0u);
    }
}

TEST_F(StartupOutcomesTest, UnknownModeByteKeepsTheDefaultButTheCommandsAreLive) {
    for (const wchar_t* word : {L"StatusWord=0x10002", L"StatusWord=0x100FF"}) {
        SCOPED_TRACE(word);
        Scenario({word});
        Start();
        ExpectView(kOnAdapter);
        EXPECT_TRUE(ControlValuesSent().empty());
        testsupport::Click(Dialog(), kDisable);
        EXPECT_EQ(ControlValuesSent(), std::vector<int>{0});
        EXPECT_EQ(CloseDialog(), 0u);
        m_dialog = nullptr;
        ::DeleteFileW((m_folder + L"\\sim.log").c_str());
    }
}

TEST_F(StartupOutcomesTest, PresenceBitClearEndsTheProgramAndLeavesTheStoredModeAlone) {
    StoreModeDword(0);
    Scenario({L"StatusWord=0x1"});
    Start();
    ExpectFatalMessageBox(L"Can't get WMI Pelloran status");
    EXPECT_TRUE(ReadStoredMode().IsDword(0));
}

TEST_F(StartupOutcomesTest, NoInstanceEndsTheProgramAndLeavesTheStoredModeAlone) {
    StoreModeDword(0);
    Scenario({L"Instances=0"});
    Start();
    ExpectFatalMessageBox(L"Can't get WMI TolvekManagement object");
    EXPECT_EQ(StatusReads(), 0);
    EXPECT_TRUE(ReadStoredMode().IsDword(0));
}

}  // namespace
}  // namespace e2e
