// A firmware that fails, stalls or answers nonsense, at start-up and during commands: the program
// never crashes, never waits past its retry bound, and ends only after one of its two messages.
#include "tests/e2e/E2eFixture.h"

namespace e2e {
namespace {

using testsupport::StateOf;

// Seven attempts 500 ms apart: three seconds of pauses, then the call gives up.
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
    for (const wchar_t* type : {L"StatusType=R8", L"StatusType=BSTR", L"StatusType=NULL", L"StatusType=MISSING"}) {
        SCOPED_TRACE(type);
        Scenario({type, L"StatusWord=0x10001"});
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

TEST_F(FirmwareFaultsTest, StatusCallThatAlwaysFailsGivesUpAfterTheBound) {
    Scenario({L"ExecMethodFailures=-1", L"ExecMethodFailOnly=device_status"});
    Start();
    ExpectStatusMessageAndExit();
    const std::vector<LogEntry> attempts = Attempts(L"device_status");
    ASSERT_EQ(attempts.size(), static_cast<size_t>(kAttemptsPerCall));
    const long long span = attempts.back().t - attempts.front().t;
    EXPECT_GE(span, 2900);
    EXPECT_LT(span, 6000);
}

TEST_F(FirmwareFaultsTest, FailingControlCallsNeitherHangNorChangeTheDialog) {
    FirmwareState(0x10001);
    Scenario({L"ExecMethodFailures=-1", L"ExecMethodFailOnly=device_ctrl"});
    Start();
    HWND dialog = Dialog();  // after the start's own control call has given up
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Attempts(L"device_ctrl").size(), static_cast<size_t>(kAttemptsPerCall));

    const DWORD before = ::GetTickCount();
    testsupport::Click(dialog, testsupport::StateOf(dialog, kDisable).enabled ? kDisable : kEnable);
    const DWORD took = ::GetTickCount() - before;
    EXPECT_LT(took, 8000u) << "a click waited past the retry bound";
    EXPECT_EQ(Attempts(L"device_ctrl").size(), static_cast<size_t>(2 * kAttemptsPerCall));
    EXPECT_EQ(StateOf(dialog, kStatusText).text, ShippedText(L"1", 10)) << "the controls were updated before the call";
    EXPECT_EQ(FirmwareStateNow(), 0x10001u) << "the firmware never took the value";
    EXPECT_EQ(CloseDialog(), 0u);
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
