// The dialog's reactions end to end, one row per scenario: the simulated firmware (its keys and answers in the
// simulator's language: sim/README.md, "## Scenario keys and the fault language"), the stored mode before and after,
// the language file, what the user does and sees (the steps: DialogRun.h), and what the firmware is sent. The rows of
// a locale run under it (ctest sets LANG).
#include "tests/e2e/DialogRun.h"

#include <atomic>
#include <cstdio>
#include <thread>

namespace e2e {
namespace {

class DialogTest : public DialogRun, public ::testing::WithParamInterface<Row> {};

TEST_P(DialogTest, Scenario) {
    const Row& row = GetParam();
    Start(row, TestLanguageFile(false), StoredMode(row.before));
    RunSteps();
    EXPECT_EQ(m_run->ControlValues(), row.sent);
    EXPECT_EQ(ReadStored(), StoredMode(row.after == kAsBefore ? row.before : row.after));
}

const Row kRows[] = {
    // No connection: the firmware shown as not available, nothing to click, the stored mode shown and kept.
    {.name = "NotConnected", .scenario = "Answers.ConnectServer=WBEM_E_ACCESS_DENIED", .after = kAdapter, .steps = "na A; ltr"},
    {.name = "NotConnectedKeepsTheStoredMode", .scenario = "Answers.ConnectServer=WBEM_E_ACCESS_DENIED", .before = kAdapterBattery,
        .steps = "na B; r"},
    // Feature off: the stored mode is shown; Enable sends it, Disable sends 0 and keeps the check.
    {.name = "OffAdapterStored", .before = kAdapter, .steps = "off A; E; on A; r", .sent = {1}},
    {.name = "OffBatteryStored", .before = kAdapterBattery, .steps = "off B; E; on B; D; off B; E; on B; D", .sent = {3, 0, 3, 0}},
    {.name = "OffNothingStored", .after = kAdapter, .steps = "off A"},
    {.name = "OffOtherNumberStored", .before = 5, .after = kAdapterBattery, .steps = "off B"},
    {.name = "OffRegistryBlocked", .before = kBlocked, .after = kNothing, .steps = "off B"},
    // Feature on: the reported mode is shown and sent back; each mode click sends its value.
    {.name = "OnAdapter", .scenario = "StatusWord=0x10001", .before = kAdapterBattery, .after = kAdapter,
        .steps = "on A; B; on B; A; on A; A; on A", .sent = {1, 3, 1, 1}},
    {.name = "OnBattery", .scenario = "StatusWord=0x10003", .before = kAdapter, .after = kAdapterBattery, .steps = "on B; x", .sent = {3}},
    {.name = "OnWithOtherBitsSet", .scenario = "StatusWord=0xFFFFFF03", .before = kAdapter, .after = kAdapterBattery, .steps = "on B",
        .sent = {3}},
    // A mode byte the dialog does not know: the on form with live commands, the stored mode checked and kept.
    {.name = "UnknownModeKeepsTheStoredMode", .scenario = "StatusWord=0x10011", .before = kAdapterBattery, .steps = "on B"},
    {.name = "UnknownModeStillSwitches", .scenario = "StatusWord=0x10011", .before = kAdapter, .steps = "on A; D; off A", .sent = {0}},
    // The fatal starts leave the stored mode alone.
    {.name = "PresenceBitClear", .scenario = "StatusWord=0x20001", .before = kAdapterBattery, .steps = "status!"},
    {.name = "NoInstance", .scenario = "Instances=0", .before = kAdapterBattery, .steps = "object!"},
    {.name = "FinalFailureAtStartTriedOnce", .scenario = "Answers.device_status=WBEM_E_INVALID_METHOD", .before = kAdapterBattery,
        .steps = "status!; #device_status=1"},
    // A dead connection (the WMI service restarted) is not tried again, and says nothing about the firmware.
    {.name = "DeadConnectionAtStartTriedOnce", .scenario = "Answers.device_status=RPC_E_DISCONNECTED*", .before = kAdapterBattery,
        .steps = "na B; #device_status=1"},
    // A thread an input method made single-threaded, and proxies that refuse their blanket: the same dialog.
    {.name = "ApartmentAlreadyJoined", .scenario = "StatusWord=0x10001", .before = kAdapterBattery, .steps = "on A; B; on B",
        .sent = {1, 3}, .setup = Setup::Apartment},
    {.name = "BlanketRefused", .scenario = "StatusWord=0x10003;Answers.SetBlanket=E_NOINTERFACE,E_ACCESSDENIED*", .before = kAdapter,
        .after = kAdapterBattery, .steps = "on B", .sent = {3}},
    // A click the firmware does not apply: the state read back and shown, and said; the next click is its own.
    {.name = "EnableRefused", .scenario = "Answers.device_ctrl=WBEM_E_ACCESS_DENIED", .before = kAdapter,
        .steps = "off A; E!; off A; #device_ctrl=1; #device_status=2; E; on A", .sent = {1, 1}},
    {.name = "DisableRefused", .scenario = "InitialStatus=0x10003;Answers.device_ctrl=@0,WBEM_E_INVALID_PARAMETER", .before = kAdapter,
        .after = kAdapterBattery, .steps = "on B; D!; on B; #device_status=2", .sent = {3, 0}},
    {.name = "ModeRefused", .scenario = "InitialStatus=0x10001;Answers.device_ctrl=@0,RPC_E_DISCONNECTED", .before = kAdapterBattery,
        .after = kAdapter, .steps = "on A; B!; on A; #device_ctrl=2", .sent = {1, 3}},
    // ... and when the state cannot be read back either, it is shown as not available, the stored mode kept.
    {.name = "RefusedAndNotReadBack",
        .scenario = "Answers.device_ctrl=WBEM_E_ACCESS_DENIED;Answers.device_status=@0,WBEM_E_ACCESS_DENIED*", .before = kAdapterBattery,
        .steps = "off B; E!; na B", .sent = {3}},
    {.name = "RefusedWithoutS13AndS14", .scenario = "Answers.device_ctrl=WBEM_E_FAILED*;Answers.device_status=@0,WBEM_E_NOT_FOUND",
        .before = kAdapter, .steps = "off A; E!; na A; #device_ctrl=7", .sent = {1}, .setup = Setup::No13And14},
    {.name = "AboutBoxAndSecondCopy", .scenario = "StatusWord=0x10001", .before = kAdapterBattery, .after = kAdapter,
        .steps = "on A; a; on A; 2", .sent = {1}},
    {.name = "AnotherCopyHoldsTheName", .scenario = "StatusWord=0x10001", .before = kAdapterBattery, .steps = "gone",
        .setup = Setup::Mutex},
    {.name = "OtherObjectHoldsTheName", .scenario = "StatusWord=0x10001", .before = kAdapterBattery, .after = kAdapter, .steps = "on A",
        .sent = {1}, .setup = Setup::Event},
    {.name = "NoLanguageFile", .scenario = "StatusWord=0x10001", .before = kAdapterBattery, .after = kAdapter, .steps = "on A; D; off A",
        .sent = {1, 0}, .setup = Setup::NoLanguageFile},
    {.name = "LanguageFileEdited", .scenario = "StatusWord=0x10001", .before = kAdapterBattery, .after = kAdapter,
        .steps = "on A; e; D; off A; E; on A", .sent = {1, 0, 1}},
    // How each start-up step and click is bounded when the firmware stalls is shown in firmware_test, by a virtual clock;
    // here, in real time, the one bound the dialog hands down itself: the start's firmware calls share it, so a status
    // that takes 8 s leaves the control call fewer tries than its own 3 s would allow (seven).
    {.name = "StartSharesItsBound",
        .scenario = "StatusWord=0x10001;Answers.device_status=@8000;Answers.device_ctrl=WBEM_E_SERVER_TOO_BUSY*",
        .before = kAdapterBattery, .after = kAdapter, .steps = "on A; #device_ctrl<7", .sent = {1}},
    // Under a policy: the policy's state sent at start unless the firmware reports it already (then the mode handed
    // back as always), read back and shown, every switch locked, and no mode stored, not even the default.
    {.name = "PolicyOffWhileOff", .steps = "off A", .setup = Setup::PolicyOff},
    {.name = "PolicyOffWhileAdapter", .scenario = "InitialStatus=0x10001", .before = kAdapterBattery, .steps = "off B; #device_status=2",
        .sent = {0}, .setup = Setup::PolicyOff},
    {.name = "PolicyOffWhileBattery", .scenario = "InitialStatus=0x10003", .steps = "off A", .sent = {0}, .setup = Setup::PolicyOff},
    {.name = "PolicyAdapterWhileOff", .before = kAdapterBattery, .steps = "on A", .sent = {1}, .setup = Setup::PolicyAdapter},
    {.name = "PolicyAdapterWhileAdapter", .scenario = "InitialStatus=0x10001", .before = kAdapterBattery,
        .steps = "on A; #device_status=1", .sent = {1}, .setup = Setup::PolicyAdapter},
    {.name = "PolicyAdapterWhileBattery", .scenario = "InitialStatus=0x10003", .steps = "on A; r", .sent = {1},
        .setup = Setup::PolicyAdapter},
    {.name = "PolicyBatteryWhileOff", .before = kAdapter, .steps = "on B", .sent = {3}, .setup = Setup::PolicyBattery},
    {.name = "PolicyBatteryWhileAdapter", .scenario = "InitialStatus=0x10001", .steps = "on B", .sent = {3}, .setup = Setup::PolicyBattery},
    {.name = "PolicyBatteryWhileBattery", .scenario = "InitialStatus=0x10003", .before = kAdapter, .steps = "on B; x", .sent = {3},
        .setup = Setup::PolicyBattery},
    // A policy the firmware refuses, or takes without reporting it after: the state read back, and the warning once
    // the dialog is up; still locked.
    {.name = "PolicyRefused", .scenario = "Answers.device_ctrl=WBEM_E_ACCESS_DENIED", .before = kAdapter, .steps = "off A; W!; off A",
        .sent = {1}, .setup = Setup::PolicyAdapter},
    {.name = "PolicyNotTaken", .scenario = "StatusWord=0x10000", .before = kAdapter, .steps = "off A; W!; #device_status=2", .sent = {1},
        .setup = Setup::PolicyAdapter},
    // A policy value of the wrong type is none, whatever its bytes: the dialog as without it.
    {.name = "PolicyOfTheWrongType", .scenario = "InitialStatus=0x10003", .before = kAdapterBattery, .after = kAdapter,
        .steps = "on B; A; on A", .sent = {3, 1}, .setup = Setup::PolicyBinary},
    // Run by ctest under their locales: the section of the locale's language number, and its direction.
    {.name = "fr_FR", .scenario = "StatusWord=0x10001", .before = kAdapterBattery, .after = kAdapter, .steps = "on A; ltr", .sent = {1},
        .section = 303},
    {.name = "ar_QA", .scenario = "StatusWord=0x10001", .before = kAdapterBattery, .after = kAdapter, .steps = "on A; rtl; a",
        .sent = {1}, .section = 600},
    {.name = "fa_IR", .scenario = "StatusWord=0x10001", .before = kAdapterBattery, .after = kAdapter, .steps = "on A; rtl", .sent = {1},
        .section = 619}};
INSTANTIATE_TEST_SUITE_P(Rows, DialogTest, ::testing::ValuesIn(kRows),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The slowest click there is: a control call that stalls, then a read-back that stalls. The two share one bound
// below the 5 s after which Windows calls a window that handles no message not responding (IsHungAppWindow, asked
// every 250 ms from this thread's neighbour), and the warning comes within that bound plus a margin of 500 ms.
TEST_F(DialogRun, TheSlowestClickNeverMakesTheWindowNotResponding) {
    constexpr ULONGLONG kNotRespondingMs = 5000;
    Start({.name = "SlowestClick", .scenario = "Answers.device_ctrl=never;Answers.device_status=@0,never", .before = kAdapterBattery},
          TestLanguageFile(false), StoredMode(kAdapterBattery));
    RunStep("off B");
    HWND dialog = Dialog();
    std::atomic<bool> clicked{false}, hung{false};
    std::thread watch([&] {
        while (!clicked) {
            hung = hung || ::IsHungAppWindow(dialog);
            ::Sleep(250);
        }
    });
    const ULONGLONG start = ::GetTickCount64();
    ::PostMessageW(::GetDlgItem(dialog, IDC_ENABLE), BM_CLICK, 0, 0);
    HWND box = WaitForWindow(m_tool->pid(), &IsMessageBox, 3 * kAllowMs);
    const ULONGLONG held = ::GetTickCount64() - start;
    clicked = true;
    watch.join();
    ASSERT_NE(box, nullptr);
    std::printf("the slowest click held the dialog %llu ms; IsHungAppWindow: %s\n", held, hung ? "TRUE" : "never");
    EXPECT_FALSE(hung);
    EXPECT_LT(held, kNotRespondingMs);
    EXPECT_TRUE(Click(box, IDOK, kAllowMs));
    RunStep("na B");
    RunSteps();
    EXPECT_EQ(m_run->ControlValues(), std::vector<int>{3});
}

// A thread an input method made single-threaded dispatches the messages sent to it while a call waits in COM's
// modal loop: a second click that comes so during a slow control call starts no call, and a mode button it
// checked is set back.
TEST_F(DialogRun, AClickDuringACallStartsNothing) {
    Start({.name = "ClickDuringACall", .scenario = "InitialStatus=0x10001;Answers.device_ctrl=@0,@2500", .before = kAdapterBattery,
           .setup = Setup::Apartment}, TestLanguageFile(false), StoredMode(kAdapterBattery));
    RunStep("on A");
    HWND dialog = Dialog();
    ::PostMessageW(::GetDlgItem(dialog, IDC_ADAPTER_BATTERY_MODE), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return Logged("ExecMethod", "method", "device_ctrl") == 2; }));
    for (int id : {IDC_ADAPTER_MODE, IDC_DISABLE}) EXPECT_TRUE(Click(dialog, id, 2000)) << "not dispatched during the call";
    EXPECT_TRUE(WaitUntil([&] { return Logged("Answer", "method", "device_ctrl") == 2; }));
    EXPECT_TRUE(Ping(dialog, kAllowMs));
    RunStep("on B");
    RunSteps();
    EXPECT_EQ(m_run->ControlValues(), (std::vector<int>{1, 3}));
    EXPECT_EQ(ReadStored(), StoredMode(kAdapterBattery));
}

}  // namespace
}  // namespace e2e
