// The dialog's reactions end to end, one row per scenario: the simulated firmware, the stored mode before and
// after, the language file, what the user does and sees, and what the firmware is sent.
//
// A row's script is a list of steps separated by ';', run in order by DialogRun (DialogRun.h):
//
//   step               meaning                                                          example
//   on|off|na A|B      the dialog shows the feature on, off or not available (every     off B
//                      switch disabled), with Adapter Mode (A) or Adapter + Battery
//                      Mode (B) checked; the texts are the language file's
//   E  D  A  B         a click on Enable, Disable, Adapter Mode, Adapter + Battery Mode  E
//   E! D! A! B!        the same click, not applied by the firmware: the warning (S13)   E!
//                      owned by the dialog, with an OK button only, confirmed
//   W!                 the same warning, after the start (the policy's state not taken) W!
//   object!  status!   the fatal message of a missing object or status, then the end    status!
//                      with code 0
//   gone               the tool ended at once, before it called the firmware            gone
//   #method=n          the firmware method attempted n times so far, or fewer than n    #device_status=1
//   #method<n                                                                           #device_ctrl<7
//   ~method  ~Kind     wait for a call of the method to answer, however late; or for    ~device_ctrl
//                      a simulated object of that kind to be freed                      ~Services
//   path=n             every method call addressed the instance numbered n              path=2
//   rtl  ltr           the dialog mirrored and read right to left, or neither           rtl
//   x  r               Escape or Enter: the dialog ends, with code 0                    x
//   e                  the language file edited while the dialog is open                e
//   a                  the about box opened, owned by the disabled dialog, closed        a
//   2                  a second copy started, which ends without calling the firmware   2
//
// Under a policy (setup "p0", "p1", "p3") every view has all four switches disabled, the description starts with S15
// and has the focus. After the last step the dialog is closed if it is still open, and every run is checked for what holds always:
// a clean end, a blanket on every proxy before its first call, the connection made in the multithreaded
// apartment, no planted DLL loaded, the DPI awareness. The rows of a locale run under it (ctest sets LANG).
#include "tests/e2e/DialogRun.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace e2e {
namespace {

class DialogTest : public DialogRun, public ::testing::WithParamInterface<Row> {};

TEST_P(DialogTest, Scenario) {
    const Row& row = GetParam();
    Start(row, TestLanguageFile(false), row.before >= 0 ? Dword(static_cast<DWORD>(row.before)) : Stored{REG_NONE, ""});
    RunScript();
    EXPECT_EQ(m_run->ControlValues(), row.sent);
    EXPECT_EQ(ReadStored(), (row.after >= 0 ? Dword(static_cast<DWORD>(row.after)) : Stored{REG_NONE, ""}));
}

INSTANTIATE_TEST_SUITE_P(Rows, DialogTest, ::testing::Values(
    // No connection: the firmware shown as not available, nothing to click, the stored mode shown and kept.
    Row{"NotConnected", "Answers.ConnectServer=WBEM_E_ACCESS_DENIED", kNothing, 1, "na A; ltr", {}},
    Row{"NotConnectedKeepsTheStoredMode", "Answers.ConnectServer=WBEM_E_ACCESS_DENIED", 0, 0, "na B; r", {}},
    // Feature off: the stored mode is shown; Enable sends it, Disable sends 0 and keeps the check.
    Row{"OffAdapterStored", "", 1, 1, "off A; E; on A; r", {1}},
    Row{"OffBatteryStored", "", 0, 0, "off B; E; on B; D; off B; E; on B; D", {3, 0, 3, 0}},
    Row{"OffNothingStored", "", kNothing, 1, "off A", {}},
    Row{"OffOtherNumberStored", "", 5, 0, "off B", {}},
    Row{"OffRegistryBlocked", "", kBlocked, kNothing, "off B", {}},
    // Feature on: the reported mode is shown and sent back; each mode click sends its value.
    Row{"OnAdapter", "StatusWord=0x10001", 0, 1, "on A; B; on B; A; on A; A; on A", {1, 3, 1, 1}},
    Row{"OnBattery", "StatusWord=0x10003", 1, 0, "on B; x", {3}},
    Row{"OnWithOtherBitsSet", "StatusWord=0xFFFFFF03", 1, 0, "on B", {3}},
    // A mode byte the dialog does not know: the on form with live commands, the stored mode checked and kept.
    Row{"UnknownModeKeepsTheStoredMode", "StatusWord=0x10011", 0, 0, "on B", {}},
    Row{"UnknownModeStillSwitches", "StatusWord=0x10011", 1, 1, "on A; D; off A", {0}},
    // The fatal starts leave the stored mode alone.
    Row{"PresenceBitClear", "StatusWord=0x20001", 0, 0, "status!", {}},
    Row{"NoInstance", "Instances=0", 0, 0, "object!", {}},
    Row{"FinalFailureAtStartTriedOnce", "Answers.device_status=WBEM_E_INVALID_METHOD", 0, 0, "status!; #device_status=1", {}},
    // A dead connection (the WMI service restarted) is not tried again, and says nothing about the firmware.
    Row{"DeadConnectionAtStartTriedOnce", "Answers.device_status=RPC_E_DISCONNECTED*", 0, 0, "na B; #device_status=1", {}},
    // A thread an input method made single-threaded, and proxies that refuse their blanket: the same dialog.
    Row{"ApartmentAlreadyJoined", "StatusWord=0x10001", 0, 0, "on A; B; on B", {1, 3}, "sta"},
    Row{"BlanketRefused", "StatusWord=0x10003;Answers.SetBlanket=E_NOINTERFACE,E_ACCESSDENIED*", 1, 0, "on B", {3}},
    // An enumeration whose end does not come loses none of the instances it handed back: the calls address the
    // last one counted, and leaves the status call, here a little slow, time to answer.
    Row{"LateEndOfOneInstance", "StatusWord=0x10001;Answers.Next=S_OK,never;Answers.device_status=@300", 0, 1, "on A; path=0", {1}},
    Row{"LateEndOfThreeInstances", "Instances=3;StatusWord=0x10003;Answers.Next=S_OK,S_OK,S_OK,never;Answers.device_status=@300",
        1, 0, "on B; path=2", {3}},
    // A click the firmware does not apply: the state read back and shown, and said; the next click is its own.
    Row{"EnableRefused", "Answers.device_ctrl=WBEM_E_ACCESS_DENIED", 1, 1, "off A; E!; off A; #device_ctrl=1; #device_status=2; E; on A", {1, 1}},
    Row{"DisableRefused", "InitialStatus=0x10003;Answers.device_ctrl=@0,WBEM_E_INVALID_PARAMETER", 1, 0, "on B; D!; on B; #device_status=2", {3, 0}},
    Row{"ModeRefused", "InitialStatus=0x10001;Answers.device_ctrl=@0,RPC_E_DISCONNECTED", 0, 1, "on A; B!; on A; #device_ctrl=2", {1, 3}},
    // ... and when the state cannot be read back either, it is shown as not available, the stored mode kept.
    Row{"RefusedAndNotReadBack", "Answers.device_ctrl=WBEM_E_ACCESS_DENIED;Answers.device_status=@0,WBEM_E_ACCESS_DENIED*", 0, 0,
        "off B; E!; na B", {3}},
    Row{"RefusedWithoutS13AndS14", "Answers.device_ctrl=WBEM_E_FAILED*;Answers.device_status=@0,WBEM_E_NOT_FOUND", 1, 1,
        "off A; E!; na A; #device_ctrl=7", {1}, "no1314"},
    Row{"AboutBox", "StatusWord=0x10001", 0, 1, "on A; a; on A", {1}},
    Row{"SecondCopy", "StatusWord=0x10001", 0, 1, "on A; 2", {1}},
    Row{"AnotherCopyHoldsTheName", "StatusWord=0x10001", 0, 0, "gone", {}, "mutex"},
    Row{"OtherObjectHoldsTheName", "StatusWord=0x10001", 0, 1, "on A", {1}, "event"},
    Row{"NoLanguageFile", "StatusWord=0x10001", 0, 1, "on A; D; off A", {1, 0}, "nolang"},
    Row{"LanguageFileEdited", "StatusWord=0x10001", 0, 1, "on A; e; D; off A; E; on A", {1, 0, 1}},
    // The firmware's stalls and late answers, given up at the bound (the slowest rows, last). A start-up step given
    // up learned nothing: the firmware is not available, and no message claims that it has no object or status.
    Row{"StatusNeverAnswers", "Answers.device_status=never", 0, 0, "na B; #device_status=1", {}},
    Row{"EnumerationNeverAnswers", "Answers.Next=never", 1, 1, "na A", {}},
    Row{"ClassDefinitionNeverAnswers", "Answers.GetObject=never", 0, 0, "na B", {}},
    Row{"SlowConnectionLeavesTheQueryTooLittle", "Answers.ConnectServer=@8500;Answers.Next=@2500", 0, 0, "na B", {}},
    Row{"SlowLogOn", "SlowLogOn=1", 1, 1, "na A", {}},
    // A class definition the provider is too busy to give is fetched again, within the call's bound.
    Row{"ClassDefinitionBusyAtFirst", "StatusWord=0x10001;Answers.GetObject=WBEM_E_SERVER_TOO_BUSY,WBEM_E_SERVER_TOO_BUSY", 0, 1,
        "on A", {1}},
    // A cold machine: the first call (the connection) or the provider's first answer 5 s late, within the start's
    // bound: the dialog the firmware's state calls for, not a message.
    Row{"ColdStart", "StatusWord=0x10003;Answers.*=@5000", 1, 0, "on B", {3}},
    Row{"ColdProvider", "Answers.device_status=@5000", 0, 0, "off B; E; on B", {3}},
    // A connection that never comes, or comes after the bound: the firmware not available; the late one is
    // released unused.
    Row{"ConnectionNeverAnswers", "Answers.ConnectServer=never", 0, 0, "na B", {}},
    Row{"ConnectionAnswersLate", "Answers.ConnectServer=@10800", 1, 1, "na A; ~Services; na A", {}},
    // The start's firmware calls share its bound: a status that takes 8 s leaves the control call fewer tries than
    // its own 3 s would allow (seven).
    Row{"StartSharesItsBound", "StatusWord=0x10001;Answers.device_status=@8000;Answers.device_ctrl=WBEM_E_SERVER_TOO_BUSY*",
        0, 1, "on A; #device_ctrl<7", {1}},
    // Nor does a control call that never answers, or answers after the bound.
    Row{"ControlCallGivenUp", "Answers.device_ctrl=never", 0, 0, "off B; E!; off B", {3}},
    // A late answer acts when it comes: the dialog shows what was read back before, and the next click is live.
    Row{"ControlCallAnswersLate", "Answers.device_ctrl=@6000", 0, 0, "off B; E!; off B; ~device_ctrl; E; on B", {3, 3}},
    // Under a policy: the policy's state sent at start unless the firmware reports it already (then the mode handed
    // back as always), read back and shown, every switch locked, and no mode stored, not even the default.
    Row{"PolicyOffWhileOff", "InitialStatus=0x10000", kNothing, kNothing, "off A", {}, "p0"},
    Row{"PolicyOffWhileAdapter", "InitialStatus=0x10001", 0, 0, "off B; #device_status=2", {0}, "p0"},
    Row{"PolicyOffWhileBattery", "InitialStatus=0x10003", kNothing, kNothing, "off A", {0}, "p0"},
    Row{"PolicyAdapterWhileOff", "InitialStatus=0x10000", 0, 0, "on A", {1}, "p1"},
    Row{"PolicyAdapterWhileAdapter", "InitialStatus=0x10001", 0, 0, "on A; #device_status=1", {1}, "p1"},
    Row{"PolicyAdapterWhileBattery", "InitialStatus=0x10003", kNothing, kNothing, "on A; r", {1}, "p1"},
    Row{"PolicyBatteryWhileOff", "InitialStatus=0x10000", 1, 1, "on B", {3}, "p3"},
    Row{"PolicyBatteryWhileAdapter", "InitialStatus=0x10001", kNothing, kNothing, "on B", {3}, "p3"},
    Row{"PolicyBatteryWhileBattery", "InitialStatus=0x10003", 1, 1, "on B; x", {3}, "p3"},
    // A policy the firmware refuses, or takes without reporting it after: the state read back, and the warning once
    // the dialog is up; still locked.
    Row{"PolicyRefused", "InitialStatus=0x10000;Answers.device_ctrl=WBEM_E_ACCESS_DENIED", 1, 1, "off A; W!; off A", {1}, "p1"},
    Row{"PolicyNotTaken", "StatusWord=0x10000", 1, 1, "off A; W!; #device_status=2", {1}, "p1"},
    // A policy value of the wrong type is none, whatever its bytes: the dialog as without it.
    Row{"PolicyOfTheWrongType", "InitialStatus=0x10003", 0, 1, "on B; A; on A", {3, 1}, "pBIN"},
    // Run by ctest under their locales: the section of the locale's language number, and its direction.
    Row{"fr_FR", "StatusWord=0x10001", 0, 1, "on A; ltr", {1}, "", 303},
    Row{"ar_QA", "StatusWord=0x10001", 0, 1, "on A; rtl; a", {1}, "", 600},
    Row{"fa_IR", "StatusWord=0x10001", 0, 1, "on A; rtl", {1}, "", 619}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The slowest click there is: a control call that stalls, then a read-back that stalls. The two share one bound
// below the 5 s after which Windows calls a window that handles no message not responding (IsHungAppWindow, asked
// every 250 ms from this thread's neighbour), and the warning comes within that bound plus a margin of 500 ms.
TEST_F(DialogRun, TheSlowestClickNeverMakesTheWindowNotResponding) {
    constexpr ULONGLONG kNotRespondingMs = 5000;
    Start(Row{"SlowestClick", "Answers.device_ctrl=never;Answers.device_status=@0,never", 0, 0, "", {}},
          TestLanguageFile(false), Dword(0));
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
    RunScript();
    EXPECT_EQ(m_run->ControlValues(), std::vector<int>{3});
}

// A thread an input method made single-threaded dispatches the messages sent to it while a call waits in COM's
// modal loop: a second click that comes so during a slow control call starts no call, and a mode button it
// checked is set back.
TEST_F(DialogRun, AClickDuringACallStartsNothing) {
    Start(Row{"ClickDuringACall", "InitialStatus=0x10001;Answers.device_ctrl=@0,@2500", 0, 0, "", {}, "sta"},
          TestLanguageFile(false), Dword(0));
    RunStep("on A");
    HWND dialog = Dialog();
    ::PostMessageW(::GetDlgItem(dialog, IDC_ADAPTER_BATTERY_MODE), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return Attempts("device_ctrl") == 2; }));
    for (int id : {IDC_ADAPTER_MODE, IDC_DISABLE}) EXPECT_TRUE(Click(dialog, id, 2000)) << "not dispatched during the call";
    EXPECT_TRUE(WaitUntil([&] {
        const std::vector<SimLogEntry> answers = m_run->Log("Answer");
        return std::count_if(answers.begin(), answers.end(), [](const SimLogEntry& a) { return a["method"] == "device_ctrl"; }) == 2;
    }));
    EXPECT_TRUE(Ping(dialog, kAllowMs));
    RunStep("on B");
    RunScript();
    EXPECT_EQ(m_run->ControlValues(), (std::vector<int>{1, 3}));
    EXPECT_EQ(ReadStored(), Dword(0));
}

}  // namespace
}  // namespace e2e
