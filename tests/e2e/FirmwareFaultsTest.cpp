// A firmware that fails, stalls or answers nonsense, at start-up and during commands: the program
// never crashes, never waits past its bounds, and ends only after one of its two messages.
#include "tests/e2e/E2eFixture.h"

namespace e2e {
namespace {

using testsupport::StateOf;

// Seven attempts 500 ms apart within the call's three seconds, while the failure may pass.
constexpr int kAttemptsPerCall = 7;

class FirmwareFaultsTest : public E2eTest {
protected:
    void ExpectStatusMessageAndExit() { ExpectFatalMessage(L"Can't get WMI Pelloran status"); }

    std::vector<LogEntry> Attempts(const wchar_t* method) const {
        std::vector<LogEntry> attempts;
        for (const LogEntry& entry : Log())
            if (entry.event == L"ExecMethod" && entry.Field(L"method") == method) attempts.push_back(entry);
        return attempts;
    }
};

TEST_F(FirmwareFaultsTest, StepsBeforeTheCallFailingEndInTheStatusMessageWithoutExecuting) {
    for (const wchar_t* fault : {L"GetObjectHr=WBEM_E_FAILED", L"GetMethodHr=WBEM_E_NOT_FOUND",
                                 L"SpawnInstanceHr=WBEM_E_FAILED"}) {
        SCOPED_TRACE(fault);
        ::DeleteFileW((m_folder + L"\\sim.log").c_str());
        Scenario({fault});
        Start();
        ExpectStatusMessageAndExit();
        EXPECT_EQ(StatusReads(), 0) << "the method must not run after a failed step";
    }
}

TEST_F(FirmwareFaultsTest, StatusThatIsNotAnIntegerOrMissingIsNoStatus) {
    // A negative narrow integer keeps its bit pattern: 0xFFFF has no presence bit.
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"StatusType=R8", L"StatusWord=0x10001"},   {L"StatusType=BSTR", L"StatusWord=0x10001"},
        {L"StatusType=NULL", L"StatusWord=0x10001"}, {L"StatusType=MISSING", L"StatusWord=0x10001"},
        {L"StatusType=I2", L"StatusWord=0xFFFF"},
    };
    for (const auto& [type, word] : cases) {
        SCOPED_TRACE(type);
        Scenario({type, word});
        Start();
        ExpectStatusMessageAndExit();
    }
}

TEST_F(FirmwareFaultsTest, StatusInAnotherIntegerTypeIsRead) {
    Scenario({L"StatusType=UI4", L"StatusWord=0x10003"});
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(StateOf(dialog, kAdapterBattery).checked);
    EXPECT_EQ(ControlValuesSent(), std::vector<int>{3});
}

TEST_F(FirmwareFaultsTest, AFailureThatCannotPassAtStartIsTriedExactlyOnce) {
    for (const wchar_t* code : {L"WBEM_E_INVALID_METHOD", L"WBEM_E_ACCESS_DENIED", L"WBEM_E_INVALID_PARAMETER"}) {
        SCOPED_TRACE(code);
        ::DeleteFileW((m_folder + L"\\sim.log").c_str());
        Scenario({L"ExecMethodFailures=-1", L"ExecMethodFailOnly=device_status", std::wstring(L"ExecMethodFailHr=") + code});
        Start();
        ExpectStatusMessageAndExit();
        EXPECT_EQ(Attempts(L"device_status").size(), 1u);
    }
}

// The start's calls share three seconds: the status needs three attempts answered 200 ms late (1.2 s),
// so the control call that follows, failing throughout, gets four attempts where it would get seven.
TEST_F(FirmwareFaultsTest, TheStartsCallsShareItsThreeSeconds) {
    FirmwareState(0x10001);
    Scenario({L"Answers.device_status=WBEM_E_TIMED_OUT@200, WBEM_E_TIMED_OUT@200, @200",
              L"Answers.device_ctrl=WBEM_E_SERVER_TOO_BUSY*"});
    Start();
    ASSERT_NE(Dialog(), nullptr);
    EXPECT_EQ(Attempts(L"device_status").size(), 3u);
    EXPECT_EQ(Attempts(L"device_ctrl").size(), 4u);
    EXPECT_EQ(CloseDialog(), 0u);
}

TEST_F(FirmwareFaultsTest, FailingControlCallsNeitherHangNorChangeTheDialog) {
    FirmwareState(0x10000);
    StoreModeDword(1);
    Scenario({L"ExecMethodFailures=-1", L"ExecMethodFailOnly=device_ctrl"});
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    for (int click = 1; click <= 2; ++click) {
        testsupport::Click(dialog, StateOf(dialog, kEnable).enabled ? kEnable : kDisable);
        EXPECT_EQ(Attempts(L"device_ctrl").size(), static_cast<size_t>(click * kAttemptsPerCall));
    }
    EXPECT_EQ(StateOf(dialog, kStatusText).text, ShippedText(L"1", 10)) << "the controls were updated before the call";
    EXPECT_EQ(FirmwareStateNow(), 0x10000u) << "the firmware never took the value";
    EXPECT_EQ(CloseDialog(), 0u);
}

// A call that never answers at the start counts as that call's failure: the program ends with the
// message the failure calls for, instead of waiting for ever.
TEST_F(FirmwareFaultsTest, AStalledCallAtStartEndsInItsFailuresMessage) {
    const struct {
        const wchar_t* stall;
        const wchar_t* message;
        size_t statusAttempts;
    } cases[] = {
        {L"Answers.Next=never", L"Can't get WMI TolvekManagement object", 0},
        {L"Answers.GetObject=never", L"Can't get WMI Pelloran status", 0},
        {L"Answers.device_status=never", L"Can't get WMI Pelloran status", 1},  // not tried again
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stall);
        ::DeleteFileW((m_folder + L"\\sim.log").c_str());
        Scenario({c.stall});
        Start();
        ExpectFatalMessage(c.message);
        EXPECT_EQ(Attempts(L"device_status").size(), c.statusAttempts);
    }
}

TEST_F(FirmwareFaultsTest, AStalledControlCallIsGivenUpAndTheDialogStillWorks) {
    FirmwareState(0x10001);
    Scenario({L"Answers.device_ctrl=never"});
    Start();
    HWND dialog = Dialog();  // the start's control call stalled: given up, not waited for
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Attempts(L"device_ctrl").size(), 1u);
    testsupport::Click(dialog, kDisable);
    EXPECT_EQ(ControlValuesSent(), (std::vector<int>{1, 0}));
    EXPECT_EQ(FirmwareStateNow(), 0x10000u);
    EXPECT_FALSE(StateOf(dialog, kDisable).enabled);
    EXPECT_EQ(CloseDialog(), 0u);
}

// An answer that comes after the bound: the click has been given up by then; when the firmware acts
// late, the dialog is not confused, and the next click is answered on its own.
TEST_F(FirmwareFaultsTest, ALateAnswerIsHandled) {
    FirmwareState(0x10000);
    StoreModeDword(0);
    Scenario({L"Answers.device_ctrl=@6000"});
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    testsupport::Click(dialog, kEnable);
    const std::vector<LogEntry> calls = Attempts(L"device_ctrl");
    ASSERT_EQ(calls.size(), 1u);
    for (const LogEntry& entry : Log()) {
        if (entry.event == L"GetResultObject" && entry.Field(L"this") == calls[0].Field(L"result")) {
            EXPECT_EQ(entry.Field(L"hr"), L"0x40004") << "the click took the late answer";
        }
    }
    auto lateAnswers = [this] {
        std::vector<LogEntry> answers;
        for (const LogEntry& entry : Log())
            if (entry.event == L"Answer" && entry.Field(L"method") == L"device_ctrl") answers.push_back(entry);
        return answers;
    };
    for (int i = 0; i < 400 && lateAnswers().empty(); ++i) ::Sleep(50);
    ASSERT_EQ(lateAnswers().size(), 1u) << "the late answer never came";
    EXPECT_EQ(FirmwareStateNow(), 0x10003u) << "the firmware acted when it answered";

    testsupport::Click(dialog, kDisable);
    EXPECT_EQ(ControlValuesSent(), (std::vector<int>{3, 0}));
    EXPECT_EQ(FirmwareStateNow(), 0x10000u);
    EXPECT_EQ(StateOf(dialog, kStatusText).text, ShippedText(L"1", 10));
    EXPECT_EQ(CloseDialog(), 0u);
    EXPECT_TRUE(ReadStoredMode().IsDword(0));
}

TEST_F(FirmwareFaultsTest, ControlCallFailingTwiceSucceedsOnTheThirdAttempt) {
    FirmwareState(0x10000);
    StoreModeDword(1);
    Scenario({L"ExecMethodFailures=2", L"ExecMethodFailOnly=device_ctrl", L"ExecMethodFailuresPerCall=1"});
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    testsupport::Click(dialog, kEnable);
    const std::vector<LogEntry> attempts = Attempts(L"device_ctrl");
    ASSERT_EQ(attempts.size(), 3u);
    for (size_t i = 1; i < attempts.size(); ++i) {
        EXPECT_GE(attempts[i].t - attempts[i - 1].t, 450);
        EXPECT_LT(attempts[i].t - attempts[i - 1].t, 1500);
    }
    EXPECT_EQ(FirmwareStateNow(), 0x10001u);
}

TEST_F(FirmwareFaultsTest, QueryWithoutAnEnumeratorMeansNoManagementObject) {
    Scenario({L"ExecQueryHr=WBEM_E_INVALID_CLASS"});
    Start();
    ExpectFatalMessage(L"Can't get WMI TolvekManagement object");
    for (const LogEntry& entry : Log()) {
        EXPECT_NE(entry.event, L"Next");
        EXPECT_NE(entry.event, L"Reset");
    }
}

TEST_F(FirmwareFaultsTest, ThreeInstancesAreAllAddressedThroughOnePath) {
    FirmwareState(0x10001);
    Scenario({L"Instances=3"});
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    testsupport::Click(dialog, kDisable);
    std::vector<std::wstring> paths;
    for (const LogEntry& entry : Log())
        if (entry.event == L"ExecMethod") paths.push_back(entry.Field(L"path"));
    ASSERT_EQ(paths.size(), 3u);  // status, the start's control call, Disable
    for (const std::wstring& path : paths) {
        EXPECT_EQ(path, paths.front());
        EXPECT_NE(path, L"<null>");
    }
}

TEST_F(FirmwareFaultsTest, InstanceWithoutAPathNeverCrashesTheProgram) {
    FirmwareState(0x10001);
    Scenario({L"MissingPath=1"});
    Start();
    // The calls then address no path; whatever the firmware makes of that, the program either
    // shows its dialog or its status message, and ends cleanly.
    HWND box = testsupport::WaitForMessageBox(m_tool->pid(), 5000);
    if (box != nullptr) {
        testsupport::Click(box, IDOK);
        EXPECT_EQ(m_tool->WaitForExit(15000), 0u);
        return;
    }
    ASSERT_NE(Dialog(), nullptr);
    for (const LogEntry& entry : Log()) {
        if (entry.event == L"ExecMethod") {
            EXPECT_EQ(entry.Field(L"path"), L"<null>");
        }
    }
    EXPECT_EQ(CloseDialog(), 0u);
}

TEST_F(FirmwareFaultsTest, SlowFirmwareIsWaitedFor) {
    FirmwareState(0x10003);
    Scenario({L"LatencyMs=150"});
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    testsupport::Click(dialog, kAdapter);
    EXPECT_EQ(ControlValuesSent(), (std::vector<int>{3, 1}));
    EXPECT_EQ(FirmwareStateNow(), 0x10001u);
    EXPECT_EQ(CloseDialog(), 0u);
}

}  // namespace
}  // namespace e2e
