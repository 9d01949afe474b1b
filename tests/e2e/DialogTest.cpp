// The dialog's reactions end to end: the real Pelloran.exe under Wine against the firmware simulator, read
// and clicked from outside as a user would. One row per scenario: the simulated firmware, the stored mode,
// the language file, what the user does and sees, what the firmware is sent and what is stored. Then random
// schedules of all of these (make fuzz), where every schedule must keep the program's promises.
#include "lang/LangFile.h"
#include "sim/SimCodes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>

using namespace testsupport;

namespace {

constexpr wchar_t kMutexName[] = L"165123CA-1478-4474-A229-3CF2CBFE60A4";  // the name other copies look for
constexpr wchar_t kNoObject[] = L"Can't get WMI TolvekManagement object", kNoStatus[] = L"Can't get WMI Pelloran status";
// A click's firmware bound and the start-up's, and several times each as the time a test allows them.
constexpr DWORD kBoundMs = 3000, kAllowMs = 4 * kBoundMs, kStartBoundMs = 10000, kStartAllowMs = 4 * kStartBoundMs;
constexpr int kNothing = -1, kBlocked = -2;  // stored modes: no value; a key that cannot be created

struct Row {
    const char* name;
    std::string scenario;   // the simulator's keys, "Key=Value;..." (by default the feature is present and off)
    int before, after;      // the stored mode before the start and after the end
    std::string script;     // steps separated by ';' (see RunStep)
    std::vector<int> sent;  // control values the firmware was sent, in order
    const char* setup = "";  // "mutex", "event" (holding the single-instance name), "nolang", "no1314" (a language
                             // file without S13 and S14), "sta" (an input method's apartment on the tool's thread)
    int section = 1;        // the language file's section that the locale chooses
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// Texts of the test's language file: none is a template's text, and each names its section and key.
std::wstring TestText(int section, int key, bool edited) {
    return L"[" + std::to_wstring(section) + L"] S" + std::to_wstring(key) + L" \u00E9t\u00E9" +
           (edited && (key == 9 || key == 10) ? L" (edited)" : L"");
}

std::string TestLanguageFile(bool edited, int keys = 14) {
    std::wstring text;
    for (int section : {1, 303, 600, 619})
        for (int key = 1; key <= keys; ++key)
            text += (key == 1 ? L"[" + std::to_wstring(section) + L"]\r\n" : L"") + L"S" + std::to_wstring(key) + L"=" +
                    TestText(section, key, edited) + L"\r\n";
    return Utf16File(text);
}

DWORD ExStyle(HWND window) { return static_cast<DWORD>(::GetWindowLongW(window, GWL_EXSTYLE)); }

class DialogRun : public ::testing::Test {
protected:
    // One copy of the tool for all runs, beside its language file and a planted DLL it must never load.
    static void SetUpTestSuite() {
        s_folder = FreshFolder("e2e-tool");
        ::CopyFileW(WinPath(PELLORAN_EXE_PATH).c_str(), (s_folder + L"\\Pelloran.exe").c_str(), FALSE);
        ::CopyFileW(WinPath(PELLORAN_SIM_PATH).c_str(), (s_folder + L"\\PelloranPlanted.dll").c_str(), FALSE);
    }

    void Start(const Row& row, const std::string& languageFile, const Stored& stored) {
        m_row = row;
        m_run = std::make_unique<SimRun>(FreshFolder(row.name));
        m_run->Scenario(row.scenario + ";ProbeDll=PelloranPlanted.dll");
        BlockStoredKey(row.before == kBlocked);
        Store(stored);
        m_storedBefore = ReadStored();
        ::DeleteFileW((s_folder + L"\\PelloranLang.ini").c_str());
        if (std::string(row.setup) != "nolang")
            WriteFileBytes(s_folder + L"\\PelloranLang.ini", std::string(row.setup) == "no1314" ? TestLanguageFile(false, 12) : languageFile);
        if (std::string(row.setup) == "mutex") m_held = ::CreateMutexW(nullptr, FALSE, kMutexName);
        if (std::string(row.setup) == "event") m_held = ::CreateEventW(nullptr, TRUE, FALSE, kMutexName);
        m_apartment.reset(std::string(row.setup) == "sta" ? new ApartmentAlreadyJoined() : nullptr);
        if (m_apartment != nullptr) {
            ASSERT_TRUE(m_apartment->active()) << "no hook";
        }
        m_tool = std::make_unique<ToolProcess>(s_folder + L"\\Pelloran.exe");
        m_dialog = nullptr;
        m_edited = m_ended = false;
    }

    void TearDown() override {
        if (m_held != nullptr) ::CloseHandle(m_held);
        m_held = nullptr;
        m_apartment.reset();
        BlockStoredKey(false);
    }

    // The text of a key as the language file in use holds it (empty without a file); for S13 and S14 the English
    // texts built into the program where the file has none.
    std::wstring Text(int key) const {
        const std::string setup = m_row.setup;
        if (key == 13 && (setup == "nolang" || setup == "no1314")) return kEnglishChangeNotApplied;
        if (key == 14 && (setup == "nolang" || setup == "no1314")) return kEnglishNotAvailable;
        return setup != "nolang" ? TestText(m_row.section, key, m_edited) : L"";
    }

    // The settings dialog; the first time, also what initialisation alone decides: texts and place.
    HWND Dialog() {
        if (m_dialog != nullptr) return m_dialog;
        m_dialog = WaitForWindow(m_tool->pid(), &IsSettingsDialog, kStartAllowMs);
        EXPECT_NE(m_dialog, nullptr) << "no settings dialog";
        if (m_dialog == nullptr) return nullptr;
        m_buttonTexts = {Text(9), Text(10)};
        EXPECT_EQ(StateOf(m_dialog, IDC_STATUS_LABEL).text, Text(8));
        EXPECT_EQ(StateOf(m_dialog, IDC_ADAPTER_MODE).text, Text(11));
        EXPECT_EQ(StateOf(m_dialog, IDC_ADAPTER_BATTERY_MODE).text, Text(12));
        std::wstring description;  // seven paragraphs, an empty line after the third
        for (int key = 1; key <= 7; ++key) description += (key == 1 ? L"" : key == 4 ? L"\r\n\r\n" : L"\r\n") + Text(key);
        EXPECT_EQ(StateOf(m_dialog, IDC_DESCRIPTION).text, description);
        RECT w;
        ::GetWindowRect(m_dialog, &w);
        MONITORINFO m = {sizeof(m)};
        ::GetMonitorInfoW(::MonitorFromWindow(m_dialog, MONITOR_DEFAULTTONEAREST), &m);
        EXPECT_TRUE(std::abs(w.left + w.right - m.rcWork.left - m.rcWork.right) <= 2 &&
                    std::abs(w.top + w.bottom - m.rcWork.top - m.rcWork.bottom) <= 2) << "not centred on the work area";
        return m_dialog;
    }

    // "on A", "off B", "na A", ...: the on or off form, or the firmware not available (every switch disabled), with
    // Adapter Mode (A) or Adapter + Battery Mode (B) checked.
    void ExpectView(const std::string& view) {
        HWND dialog = Dialog();
        ASSERT_NE(dialog, nullptr);
        const bool on = view.rfind("on", 0) == 0, na = view.rfind("na", 0) == 0, adapter = view.back() == 'A';
        EXPECT_EQ(StateOf(dialog, IDC_STATUS_TEXT).text, Text(na ? 14 : on ? 9 : 10));
        EXPECT_EQ(StateOf(dialog, IDC_ENABLE).text, m_buttonTexts.first);
        EXPECT_EQ(StateOf(dialog, IDC_DISABLE).text, m_buttonTexts.second);
        EXPECT_EQ(StateOf(dialog, IDC_ENABLE).enabled, !on && !na);
        EXPECT_EQ(StateOf(dialog, IDC_DISABLE).enabled, on);
        for (int id : {IDC_ADAPTER_MODE, IDC_ADAPTER_BATTERY_MODE}) {
            EXPECT_EQ(StateOf(dialog, id).enabled, on) << id;
            EXPECT_EQ(StateOf(dialog, id).checked, adapter == (id == IDC_ADAPTER_MODE)) << id;
        }
    }

    // A click whose change the firmware did not apply: the warning about it, owned by the dialog, confirmed; then
    // the click is over.
    void ClickNotApplied(int controlId) {
        HWND dialog = Dialog();
        ::PostMessageW(::GetDlgItem(dialog, controlId), BM_CLICK, 0, 0);  // its handler waits for the message
        HWND box = WaitForWindow(m_tool->pid(), &IsMessageBox, 3 * kAllowMs);
        ASSERT_NE(box, nullptr) << "no message that the change was not applied";
        EXPECT_EQ(TextOf(::GetDlgItem(box, 0xFFFF)), Text(13));
        EXPECT_EQ(TextOf(box), L"Pelloran");
        EXPECT_NE(::SendMessageW(::GetDlgItem(box, 1088), STM_GETICON, 0, 0), 0) << "no warning icon";
        EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr) << "more than an OK button";
        EXPECT_EQ(::GetWindow(box, GW_OWNER), dialog);
        EXPECT_TRUE(Click(box, IDOK, kAllowMs));
        EXPECT_TRUE(Ping(dialog, kAllowMs));
    }

    // One of the two fatal messages: shown alone, owned by the hidden dialog, then the end with code 0.
    void ExpectFatal(const std::wstring& text) {
        HWND box = WaitForWindow(m_tool->pid(), &IsMessageBox, kStartAllowMs);
        ASSERT_NE(box, nullptr) << "no message box";
        EXPECT_EQ(TextOf(::GetDlgItem(box, 0xFFFF)), text);
        EXPECT_EQ(TextOf(box), L"Pelloran");
        EXPECT_NE(::SendMessageW(::GetDlgItem(box, 1088), STM_GETICON, 0, 0), 0) << "no exclamation icon";
        EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr) << "more than an OK button";
        HWND owner = ::GetWindow(box, GW_OWNER);
        EXPECT_TRUE(owner != nullptr && ::GetDlgItem(owner, IDC_ENABLE) != nullptr && !::IsWindowVisible(owner));
        EXPECT_TRUE(Click(box, IDOK, kAllowMs));
        ExpectEnd();
    }

    void ExpectEnd() {
        EXPECT_EQ(m_tool->WaitForExit(kStartAllowMs), 0u) << "no clean end";
        m_ended = true;
    }

    // The attempts of a firmware method in the log.
    size_t Attempts(const std::string& method) const {
        size_t attempts = 0;
        for (const SimLogEntry& entry : m_run->Log("ExecMethod")) attempts += entry["method"] == method;
        return attempts;
    }

    void RunStep(const std::string& step) {
        if (step.rfind("on", 0) == 0 || step.rfind("off", 0) == 0 || step.rfind("na", 0) == 0) return ExpectView(step);
        if (step.size() == 2 && step[1] == '!') {  // "E!", "D!", "A!", "B!": a click that is not applied
            const size_t at = std::string("EDAB").find(step[0]);
            return ClickNotApplied(std::vector<int>{IDC_ENABLE, IDC_DISABLE, IDC_ADAPTER_MODE, IDC_ADAPTER_BATTERY_MODE}[at]);
        }
        if (step == "object!" || step == "status!") return ExpectFatal(step == "object!" ? kNoObject : kNoStatus);
        if (step == "gone") {  // ended at once, before talking to the firmware
            ExpectEnd();
            EXPECT_TRUE(m_run->Log("Locator").empty());
            return;
        }
        if (step[0] == '#') {  // "#method=n": attempts of a firmware method so far; "#method<n": fewer than n
            const size_t at = step.find_first_of("=<"), attempts = Attempts(step.substr(1, at - 1));
            const size_t bound = std::stoul(step.substr(at + 1));
            EXPECT_TRUE(step[at] == '=' ? attempts == bound : attempts < bound) << attempts << " attempts";
            return;
        }
        if (step[0] == '~') {  // "~method": wait for the answer of a call of the method, however late; "~Kind": for an
                               // object of that kind to be freed
            const bool kind = std::isupper(static_cast<unsigned char>(step[1]));
            const auto seen = [&](const SimLogEntry& line) { return line[kind ? "kind" : "method"] == step.substr(1); };
            EXPECT_TRUE(WaitUntil([&] { const auto a = m_run->Log(kind ? "Free" : "Answer"); return std::any_of(a.begin(), a.end(), seen); }));
            return;
        }
        if (step.rfind("path=", 0) == 0) {  // every method call addressed the instance of that number
            for (const SimLogEntry& call : m_run->Log("ExecMethod"))
                EXPECT_EQ(call["path"], "\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_" + step.substr(5) + "\"");
            EXPECT_FALSE(m_run->Log("ExecMethod").empty());
            return;
        }

        if (step == "rtl" || step == "ltr") {  // the dialog mirrored and its texts read from right to left, or neither
            const DWORD bits = WS_EX_LAYOUTRTL | WS_EX_RTLREADING, mirrored = step == "rtl" ? WS_EX_LAYOUTRTL : 0;
            EXPECT_EQ(ExStyle(Dialog()) & bits, mirrored);
            for (int id : {IDC_STATUS_LABEL, IDC_STATUS_TEXT, IDC_ENABLE, IDC_DISABLE, IDC_ADAPTER_MODE,
                           IDC_ADAPTER_BATTERY_MODE, IDC_DESCRIPTION})
                EXPECT_EQ(ExStyle(::GetDlgItem(Dialog(), id)) & bits, mirrored ? bits : 0) << id;
            return;
        }
        switch (step[0]) {
        case 'E': Click(Dialog(), IDC_ENABLE); return;
        case 'D': Click(Dialog(), IDC_DISABLE); return;
        case 'A': Click(Dialog(), IDC_ADAPTER_MODE); return;
        case 'B': Click(Dialog(), IDC_ADAPTER_BATTERY_MODE); return;
        case 'x': ::PostMessageW(Dialog(), WM_COMMAND, IDCANCEL, 0); return ExpectEnd();  // the Escape key
        case 'r': ::PostMessageW(Dialog(), WM_COMMAND, IDOK, 0); return ExpectEnd();      // the Enter key
        case 'e':  // the language file edited while the dialog is open
            m_edited = true;
            return WriteFileBytes(s_folder + L"\\PelloranLang.ini", TestLanguageFile(true));
        case 'a': {  // the about box, through a command that differs from the about entry in ignored bits
            HWND dialog = Dialog(), about = OpenAbout(dialog, 0x10000 | IDM_ABOUTBOX | 0xF);
            ASSERT_NE(about, nullptr) << "no about box";
            EXPECT_EQ(::GetWindow(about, GW_OWNER), dialog);
            EXPECT_FALSE(::IsWindowEnabled(dialog)) << "the dialog is not disabled while the about box is open";
            EXPECT_EQ(ExStyle(about) & (WS_EX_LAYOUTRTL | WS_EX_RTLREADING), 0u) << "the about box is never mirrored";
            ::PostMessageW(about, WM_COMMAND, IDCANCEL, 0);
            EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(dialog) != FALSE; }));
            return;
        }
        case '2': {  // a second copy, started while the dialog is open
            Dialog();
            ToolProcess second(s_folder + L"\\Pelloran.exe");
            EXPECT_EQ(second.WaitForExit(), 0u);
            for (const SimLogEntry& entry : m_run->Log())
                EXPECT_NE(entry["pid"], std::to_string(second.pid())) << "the second copy called the firmware";
            return;
        }
        default: FAIL() << "unknown step " << step;
        }
    }

    void RunScript() {
        std::istringstream steps(m_row.script);
        for (std::string step; std::getline(steps >> std::ws, step, ';') && !HasFatalFailure();) {
            SCOPED_TRACE(step);
            RunStep(step);
        }
        if (!m_ended && Ping(Dialog(), kAllowMs)) ::PostMessageW(Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
        if (!m_ended) ExpectEnd();
        EXPECT_EQ(ProxyCallsWithoutBlanket(m_run->Log()), "");
        // Connected in the multithreaded apartment; the query made in the tool's, which is that one unless an input
        // method made the thread single-threaded before.
        const std::string apartment = std::string(m_row.setup) == "sta" ? "sta" : "mta";
        for (const SimLogEntry& line : m_run->Log()) {
            if (line.event == "ConnectServer" || line.event == "Marshal" || line.event == "ExecQuery") {
                EXPECT_EQ(line["apt"], line.event == "ExecQuery" ? apartment : "mta") << line.event;
            }
        }
        EXPECT_EQ(m_run->Log("Probe").size(), m_run->Log("Locator").size());
        for (const SimLogEntry& probe : m_run->Log("Probe")) EXPECT_EQ(probe["loaded"], "<null>") << "a planted DLL loaded";
        // The tool's DPI awareness, read inside it: per-monitor v2 where Windows knows it, per-monitor otherwise (Wine 8).
        for (const SimLogEntry& locator : m_run->Log("Locator"))
            EXPECT_EQ(locator["dpi"], locator["pmv2"] == "yes" ? "permonitorv2" : "permonitor");
    }

    static std::wstring s_folder;
    Row m_row{};
    std::unique_ptr<SimRun> m_run;
    std::unique_ptr<ToolProcess> m_tool;
    HANDLE m_held = nullptr;
    std::unique_ptr<ApartmentAlreadyJoined> m_apartment;
    HWND m_dialog = nullptr;
    Stored m_storedBefore;
    bool m_edited = false, m_ended = false;
    std::pair<std::wstring, std::wstring> m_buttonTexts;
};

std::wstring DialogRun::s_folder;

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
    // A dead connection (the WMI service restarted) is not tried again.
    Row{"DeadConnectionAtStartTriedOnce", "Answers.device_status=RPC_E_DISCONNECTED*", 0, 0, "status!; #device_status=1", {}},
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
    // The firmware's stalls and late answers, given up at the bound (the slowest rows, last).
    Row{"StatusNeverAnswers", "Answers.device_status=never", 0, 0, "status!; #device_status=1", {}},
    Row{"EnumerationNeverAnswers", "Answers.Next=never", 0, 0, "object!", {}},
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
    // Run by ctest under their locales: the section of the locale's language number, and its direction.
    Row{"fr_FR", "StatusWord=0x10001", 0, 1, "on A; ltr", {1}, "", 303},
    Row{"ar_QA", "StatusWord=0x10001", 0, 1, "on A; rtl; a", {1}, "", 600},
    Row{"fa_IR", "StatusWord=0x10001", 0, 1, "on A; rtl", {1}, "", 619}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// ---- Random schedules --------------------------------------------------------------------------------

std::string AnyCode(std::mt19937& random) {
    static const char* const kCodes[] = {
        "S_OK", "WBEM_S_FALSE", "WBEM_E_FAILED", "WBEM_E_TIMED_OUT", "WBEM_E_SERVER_TOO_BUSY", "WBEM_E_CALL_CANCELLED",
        "WBEM_E_SHUTTING_DOWN", "WBEM_E_TRANSPORT_FAILURE", "RPC_E_DISCONNECTED", "RPC_S_SERVER_UNAVAILABLE",
        "RPC_E_SERVER_DIED", "RPC_E_SERVER_DIED_DNE", "RPC_E_CALL_REJECTED",
        "WBEM_E_INVALID_METHOD", "WBEM_E_INVALID_PARAMETER", "WBEM_E_NOT_FOUND", "WBEM_E_ACCESS_DENIED",
        "E_ACCESSDENIED", "WBEM_E_TYPE_MISMATCH", "WBEM_E_INVALID_CLASS", "WBEM_E_NOT_SUPPORTED", "E_FAIL"};
    return kCodes[random() % std::size(kCodes)];
}

// A script of 1 to 4 answers: codes, delays (some past a click's bound, some past the start's), stalls; the last
// one sometimes repeating.
template <class Chance>
std::string AnyScript(std::mt19937& random, Chance chance) {
    std::string script;
    for (unsigned i = 0, n = 1 + random() % 4; i < n; ++i) {
        const unsigned roll = random() % 100;
        script += (i > 0 ? ", " : "") + (chance(8) ? std::string("never") : (chance(50) ? AnyCode(random) : "") + "@" +
                  std::to_string(roll < 55 ? 0 : roll < 80 ? 1 + random() % 300 : roll < 92 ? 300 + random() % 1200
                                 : roll < 97 ? kBoundMs + 1000 + random() % 3000 : kStartBoundMs + random() % 2000));
    }
    if (chance(15) && script.find("never") == std::string::npos) script += "*";
    return script;
}

// A schedule: the simulator's faults and answers (codes, delays up to past the bounds, stalls, a cold start, a slow
// machine, refused blankets), status types and values, instances, a thread already single-threaded, a stored mode of
// any type, a damaged language file and a user's clicks and keys.
Row AnySchedule(std::mt19937& random, unsigned seed, std::string& languageFile, Stored& stored) {
    auto chance = [&](unsigned percent) { return random() % 100 < percent; };
    std::ostringstream s;
    s << "InitialStatus=" << std::vector<const char*>{"0x10000", "0x10001", "0x10003", "0x10002", "0x100FF", "0x1", "0xFFFFFF03", "0"}[random() % 8]
      << ";Instances=" << std::vector<int>{1, 1, 1, 1, 0, 2, 3}[random() % 7];
    if (chance(8)) s << ";MissingPath=1";
    if (chance(25)) s << ";ResetRewinds=1";
    if (chance(35))
        s << ";StatusType=" << std::vector<const char*>{"I4", "UI4", "INT", "UINT", "I2", "UI2", "I1", "UI1", "I8", "UI8",
                                                         "R8", "BOOL", "BSTR", "NULL", "EMPTY", "MISSING"}[random() % 16]
          << ";StatusWord=" << std::vector<const char*>{"0x10001", "0x10003", "0xFFFF", "0xFFFD", "0xFF", "0x80",
                                                         "0xFFFFFFFFFFFFFFFF", "0x100010001", "0xFFFF0003", "0x10000"}[random() % 10];
    for (const char* kind : {"ConnectServer", "ExecQuery", "Next", "GetObject", "GetMethod", "SpawnInstance",
                             "device_status", "device_ctrl"})
        if (chance(std::string(kind).find('_') != std::string::npos ? 25 : 8)) s << ";Answers." << kind << "=" << AnyScript(random, chance);
    if (chance(10)) s << ";Answers.SetBlanket=" << (chance(50) ? "E_NOINTERFACE" : "E_ACCESSDENIED") << (chance(70) ? "*" : "");
    if (chance(8)) s << ";Answers.*=@" << 2000 + random() % 7000;   // a cold start
    else if (chance(10)) s << ";Answers.*=@" << 1 + random() % 150 << "*";  // a slow machine

    // The shipped language file: intact, missing, truncated, binary garbage, a huge line, or in another encoding.
    const std::string shipped = ReadFileBytes(WinPath(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini"));
    const std::wstring text(reinterpret_cast<const wchar_t*>(shipped.data() + 2), (shipped.size() - 2) / 2);
    const char* setup = "";
    switch (random() % 8) {
    case 0: case 1: case 2: languageFile = shipped; break;
    case 3: setup = "nolang"; break;
    case 4: languageFile = shipped.substr(0, random() % shipped.size()); break;
    case 5: languageFile = chance(50) ? "\xFF\xFE" : ""; for (unsigned n = 1 + random() % 8192; n > 0; --n) languageFile += char(random()); break;
    case 6: {
        std::wstring huge = text;
        huge.insert(huge.find(L"[1]\r\n") + 5, L"S" + std::to_wstring(random() % 15) + L"=" + std::wstring(1000 + random() % 300000, L'A' + random() % 26) + L"\r\n");
        languageFile = Utf16File(huge);
        break;
    }
    default:
        if (chance(33)) {
            languageFile = shipped.substr(2);  // no byte-order mark
        } else if (chance(50)) {
            languageFile = shipped;  // big-endian
            for (size_t i = 0; i + 1 < languageFile.size(); i += 2) std::swap(languageFile[i], languageFile[i + 1]);
        } else {
            languageFile.assign(text.size() * 3, '\0');  // UTF-8 without a byte-order mark
            languageFile.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &languageFile[0], int(languageFile.size()), nullptr, nullptr));
        }
    }
    // The stored mode: none, its key impossible to create, a text, up to 8 bytes, or a number 0 to 5.
    const int kind = random() % 6;
    stored = kind == 2 ? Stored{REG_SZ, chance(50) ? std::string("1\0\0\0", 4) : std::string("A\0d\0\0\0", 6)}
           : kind == 3 ? Stored{REG_BINARY, std::string(random() % 9, char(random() % 4))}
           : kind >= 4 ? Dword(random() % 6) : Stored{REG_NONE, ""};
    // Mostly the switch and the modes; About, and the ways out of the dialog, less often.
    std::string script;
    for (unsigned n = random() % 7; n > 0; --n) script += std::string(1, chance(85) ? "EDABEDa"[random() % 7] : "xrc"[random() % 3]) + ";";
    static std::string name;
    name = "fuzz-" + std::to_string(seed);
    if (!*setup && chance(10)) setup = "sta";
    return Row{name.c_str(), s.str(), kind == 1 ? kBlocked : kNothing, 0, script, {}, setup};
}

// ---- What a schedule's start and clicks must show ----------------------------------------------------------------

// The scenario's scripts, taken call by call as the simulator takes them.
struct Script {
    struct Answer {
        bool hasCode = false, never = false;
        HRESULT hr = S_OK;
        long delay = 0;
    };
    std::vector<Answer> answers;
    bool repeat = false;
    size_t next = 0;
    Answer Take() { return next < answers.size() ? answers[next++] : repeat && !answers.empty() ? answers.back() : Answer(); }
};

HRESULT CodeNamed(const std::string& name) {
    for (const SimNamedCode& named : kSimNamedCodes)
        if (std::wstring(name.begin(), name.end()) == named.name) return HRESULT(named.code);
    return HRESULT(std::stoul(name, nullptr, 0));
}

// A failure that the program tries again (the others end a call at once): the ones AnyCode may give.
bool MayPass(HRESULT hr) {
    for (const char* name : {"WBEM_E_FAILED", "WBEM_E_TIMED_OUT", "WBEM_E_SERVER_TOO_BUSY", "WBEM_E_CALL_CANCELLED",
                             "WBEM_E_TRANSPORT_FAILURE", "RPC_E_CALL_REJECTED"})
        if (hr == CodeNamed(name)) return true;
    return false;
}

// The firmware a schedule's scenario describes, and the start it makes the tool show: "na A", "off B", "on A", ...,
// "object!" or "status!", or "" when the answers come too near a bound for the outcome to be certain.
class Prediction {
public:
    Prediction(const std::string& scenario, bool adapterStored) : m_adapterStored(adapterStored) {
        std::istringstream keys(scenario);
        for (std::string key; std::getline(keys, key, ';');) {
            const std::string name = key.substr(0, key.find('=')), value = key.substr(key.find('=') + 1);
            if (name.rfind("Answers.", 0) == 0) m_scripts[name.substr(8)] = ParseScript(value);
            else m_keys[name] = value;
        }
    }

    std::string Start() {
        const std::string outcome = RunStart();
        return m_certain ? outcome : "";
    }

    // What the dialog shows for a valid status word, by the rules of the start.
    std::string View(unsigned long long status) const {
        const int mode = int(status & 0xFF);
        return std::string(mode == 0 ? "off " : "on ") + (mode == 1 ? "A" : mode == 3 ? "B" : Stored());
    }

private:
    static constexpr long kNever = LONG_MAX;

    // The start as the tool makes it, each answer taken in the order the tool's calls take them.
    std::string RunStart() {
        // The connection, on its own (a cold start's delay included); a warning code is no connection.
        const Script::Answer connect = Take("ConnectServer");
        if (!Within(connect, kStartBoundMs) || (connect.hasCode && connect.hr != S_OK)) return "na " + Stored();
        // The query: its answer holds back the enumerator's results; a failure leaves no enumerator.
        const Script::Answer query = Take("ExecQuery");
        if (query.hasCode && FAILED(query.hr)) return "object!";
        const long results = query.never ? kNever : m_t + query.delay;
        const int instances = std::stoi(Key("Instances", "1"));
        // The counting pass; once an instance is in hand, the rest of the enumeration has a click's bound.
        int count = 0;
        long rest = kStartBoundMs;
        HRESULT latest = S_OK;
        for (;;) {
            Script::Answer next = Take("Next");
            next.never = next.never || results == kNever;
            next.delay = std::max(next.delay, results - m_t);
            if (!Within(next, rest)) {
                latest = WBEM_E_TIMED_OUT;
                break;
            }
            latest = next.hasCode ? next.hr : count < instances ? S_OK : HRESULT(WBEM_S_FALSE);
            if (latest != S_OK) break;
            if (count++ == 0) rest = std::min<long>(kStartBoundMs, m_t + kBoundMs);
        }
        if (count == 0) return "object!";
        // The walk past the first path, when the enumeration ended in time: after a Reset that a forward-only
        // enumerator refuses, one Next; more when the scenario rewinds it, up to the count.
        for (int entry = 0; SUCCEEDED(latest);) {
            const Script::Answer next = Take("Next");
            if (!Within(next, rest)) break;
            const bool object = Key("ResetRewinds", "0") == "1" && (!next.hasCode || next.hr == S_OK);
            if (!object || ++entry >= count) break;
        }
        // The status call, with its retries; then the word it hands back, in the type the scenario gives it.
        if (!Call("device_status") || Key("MissingPath", "0") == "1") return "status!";
        const std::string type = Key("StatusType", "I4");
        unsigned long long status = std::stoull(Key("StatusWord", Key("InitialStatus", "0x10000")), nullptr, 0);
        if (type == "I2" || type == "UI2") status &= 0xFFFF;
        else if (type == "I1" || type == "UI1") status &= 0xFF;
        else if (type == "I4" || type == "UI4" || type == "INT" || type == "UINT") status &= 0xFFFFFFFF;
        else if (type != "I8" && type != "UI8") return "status!";  // no integer: no status word
        return status <= 0xFFFFFFFF && (status & 0x10000) != 0 ? View(status) : "status!";
    }

    static Script ParseScript(std::string text) {
        Script script;
        script.repeat = !text.empty() && text.back() == '*';
        if (script.repeat) text.pop_back();
        std::istringstream items(text);
        for (std::string item; std::getline(items >> std::ws, item, ',');) {
            Script::Answer answer;
            answer.never = item == "never";
            const std::string code = item.substr(0, item.find('@'));
            if (!answer.never && item.find('@') != std::string::npos) answer.delay = std::stol(item.substr(item.find('@') + 1));
            if (!answer.never && !code.empty()) answer.hasCode = true, answer.hr = CodeNamed(code);
            script.answers.push_back(answer);
        }
        return script;
    }

    std::string Key(const std::string& name, const std::string& fallback) const {
        return m_keys.count(name) ? m_keys.at(name) : fallback;
    }
    std::string Stored() const { return m_adapterStored ? "A" : "B"; }

    // The next answer of a kind, a cold start's or a slow machine's delay added as the simulator adds it.
    Script::Answer Take(const std::string& kind) {
        Script::Answer answer = m_scripts[kind].Take();
        if (kind == "GetMethod" || kind == "SpawnInstance") return answer;
        const Script::Answer every = m_scripts["*"].Take();
        answer.never = answer.never || every.never;
        answer.delay += every.delay;
        if (!answer.hasCode && every.hasCode) answer.hasCode = true, answer.hr = every.hr;
        return answer;
    }

    // Whether the answer comes, taken from now, before the deadline; the clock moves to the answer or to the deadline.
    // An answer within a margin of the deadline makes the outcome uncertain.
    bool Within(const Script::Answer& answer, long deadline) {
        constexpr long kMargin = 1500;
        const long at = answer.never ? kNever : m_t + answer.delay;
        if (at != kNever && std::labs(at - deadline) < kMargin) m_certain = false;
        m_t = std::min(at, deadline);
        return at < deadline;
    }
    // A method call: the class lookup, the definitions and the attempts, 500 ms apart from the call's start while a
    // failure may pass, seven at most, each awaited until the start's bound.
    bool Call(const std::string& method) {
        const long start = m_t;
        const Script::Answer object = Take("GetObject");
        if (!Within(object, kStartBoundMs) || (object.hasCode && object.hr != S_OK)) return false;
        for (const char* step : {"GetMethod", "SpawnInstance"}) {
            const Script::Answer answer = Take(step);
            if (answer.hasCode && answer.hr != S_OK) return false;
        }
        for (int pauses = 0;; ++pauses) {
            const Script::Answer attempt = Take(method);
            if (!Within(attempt, kStartBoundMs)) return false;
            const HRESULT hr = attempt.hasCode ? attempt.hr : S_OK;
            if (SUCCEEDED(hr)) return true;
            if (!MayPass(hr) || pauses == 6 || start + (pauses + 1) * 500 > long(kStartBoundMs)) return false;
            m_t = std::max(m_t, start + (pauses + 1) * 500L);
        }
    }

    std::map<std::string, std::string> m_keys;
    std::map<std::string, Script> m_scripts;
    bool m_adapterStored;
    bool m_certain = true;
    long m_t = 0;
};

// Whether a stored mode reads as Adapter Mode: 1 in at most 4 bytes of any type; a value that does not fit, or none,
// is replaced by 1; a key that cannot be made reads as nothing, which is not Adapter Mode.
bool StoredReadsAsAdapter(const Stored& stored, bool blocked) {
    if (blocked) return false;
    if (stored.type == REG_NONE || stored.bytes.size() > 4) return true;
    DWORD value = 0;
    std::memcpy(&value, stored.bytes.data(), stored.bytes.size());
    return value == 1;
}

// What the dialog shows: "on", "off" or "na" by which switches are enabled, and the mode checked.
std::string ViewOf(HWND dialog) {
    const bool enable = StateOf(dialog, IDC_ENABLE).enabled, disable = StateOf(dialog, IDC_DISABLE).enabled;
    return std::string(disable && !enable ? "on " : enable && !disable ? "off " : !enable && !disable ? "na " : "? ") +
           (StateOf(dialog, IDC_ADAPTER_MODE).checked ? "A" : "B");
}

// A key of the language file as the tool reads it under the C locale, or its English text for S13 and S14.
std::wstring LanguageText(const std::wstring& file, int key) {
    wchar_t text[256] = {};
    ::GetPrivateProfileStringW(L"1", (L"S" + std::to_wstring(key)).c_str(), L"", text, 256, file.c_str());
    if (text[0] == L'\0' && key == 13) return kEnglishChangeNotApplied;
    if (text[0] == L'\0' && key == 14) return kEnglishNotAvailable;
    return text;
}

// The view that the status read back after a click shows, from the simulator's log after the click: what the firmware
// handed back, by the rules of the start, or "na" when it handed back no valid status word.
std::string ReadBackView(const std::vector<SimLogEntry>& log, size_t from, const Prediction& firmware, bool adapterStored) {
    std::string view = std::string("na ") + (adapterStored ? "A" : "B");
    for (size_t at = from; at < log.size(); ++at) {
        const SimLogEntry& get = log[at];
        if (get.event != "Get" || get["name"] != "ctrl_param" || get["hr"] != "0x0") continue;
        const int vt = std::stoi(get["vt"]);
        const bool isSigned = vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8 || vt == VT_INT;
        const bool isUnsigned = vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8 || vt == VT_UINT;
        unsigned long long bits = ~0ULL;  // no status word
        if (isUnsigned) bits = std::stoull(get["value"]);
        if (isSigned) {
            const long long value = std::stoll(get["value"]);
            bits = vt == VT_I1 ? value & 0xFF : vt == VT_I2 ? value & 0xFFFF : vt == VT_I8 ? (value < 0 ? ~0ULL : value) : value & 0xFFFFFFFF;
        }
        view = bits <= 0xFFFFFFFF && (bits & 0x10000) != 0 ? firmware.View(bits) : std::string("na ") + (adapterStored ? "A" : "B");
    }
    return view;
}
// What every schedule must show, from the simulator's log: no wait for an answer longer than the bound (the start's
// for the lines of the start, a click's after), every proxy given its blanket before its first call, the firmware
// called only once it was found and only with control values 0, 1 and 3 (none after a fatal start), and no simulated
// object left behind (after a fatal start, none but what the client holds; a connection that never answered keeps
// its locator).
void ExpectPromisesKept(const std::vector<SimLogEntry>& log, size_t startLines, bool fatal, bool missingPath) {
    bool found = false, connected = false, reset = false;
    int counted = 0;  // the instances the counting pass handed back: the calls address the last of them
    for (size_t at = 0; at < log.size(); ++at) {
        const SimLogEntry& line = log[at];
        reset = reset || line.event == "Reset";
        counted += !reset && line.event == "Next" && !line["returned"].empty() && line["returned"] != "0";
        if (line.event == "Next" || line.event == "GetResultObject") {
            const long bound = long(at < startLines ? kStartBoundMs : kBoundMs);
            EXPECT_TRUE(!line["timeout"].empty() && std::stol(line["timeout"]) >= 0 && std::stol(line["timeout"]) <= bound)
                << line.event << " waited " << line["timeout"] << " ms";
        }
        found = found || (line.event == "Next" && !line["returned"].empty() && line["returned"] != "0");
        connected = connected || line.event == "ConnectServer";
        if (line.event == "ExecMethod") {
            EXPECT_TRUE(found && !(fatal && line["method"] == "device_ctrl")) << line["method"];
            EXPECT_EQ(line["path"], missingPath ? "<null>" : "\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_" +
                                                   std::to_string(counted - 1) + "\"") << "not the last instance counted";
        }
        if (line.event == "Put" && line["name"] == "ctrl_param") {
            EXPECT_TRUE(line["vt"] == "3" && (line["value"] == "0" || line["value"] == "1" || line["value"] == "3")) << line["value"];
        }
        if (line.event != "Detach") continue;
        std::string kinds = line["kinds"] == "<none>" ? "" : line["kinds"] + ",";
        const auto allow = [&](const char* kind) { if (kinds.find(kind) != std::string::npos) kinds.erase(kinds.find(kind), std::strlen(kind)); };
        if (!connected) allow("Locator,");
        if (fatal) for (const char* kind : {"Services,", "InParams,", "OutParams,"}) allow(kind);
        EXPECT_EQ(kinds, "") << "simulated objects left alive at exit";
    }
    EXPECT_EQ(ProxyCallsWithoutBlanket(log), "");
}

// A schedule's dialog: the view, and the state text the language file in use gives it.
void ExpectScheduleView(HWND dialog, const std::string& view, const std::wstring& languageFile) {
    EXPECT_EQ(ViewOf(dialog), view);
    EXPECT_EQ(StateOf(dialog, IDC_STATUS_TEXT).text, LanguageText(languageFile, view[0] == 'n' ? 14 : view[1] == 'n' ? 9 : 10));
}

// A message box of the process, shown or about to be.
BOOL CALLBACK FindMessageBox(HWND window, LPARAM search) {
    auto* found = reinterpret_cast<std::pair<DWORD, HWND>*>(search);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == found->first && IsMessageBox(window)) found->second = window;
    return TRUE;
}
HWND MessageBoxOf(DWORD pid) {
    std::pair<DWORD, HWND> search{pid, nullptr};
    ::EnumWindows(&FindMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

TEST_F(DialogRun, RandomSchedules) {
    unsigned count = 0, seed = 0, failed = 0;  // PELLORAN_FUZZ="N SEED", from scripts/fuzz or the suite's smoke run
    ASSERT_EQ(std::sscanf(std::getenv("PELLORAN_FUZZ") ? std::getenv("PELLORAN_FUZZ") : "", "%u %u", &count, &seed), 2);
    const std::wstring languageFilePath = s_folder + L"\\PelloranLang.ini";
    for (unsigned i = 0; i < count; ++i) {
        // A schedule whose start is certain: answers too near a bound are drawn again.
        std::mt19937 random(seed + i);
        std::string languageFile, start;
        Stored stored{};
        Row row;
        bool adapterStored = false;
        do {
            row = AnySchedule(random, seed + i, languageFile, stored);
            adapterStored = StoredReadsAsAdapter(stored, row.before == kBlocked);
            start = Prediction(row.scenario, adapterStored).Start();
        } while (start.empty());
        const Prediction firmware(row.scenario, adapterStored);
        SCOPED_TRACE(testing::Message() << "seed " << seed + i << " (make fuzz N=1 SEED=" << seed + i << "), start " << start
                                        << ", actions " << row.script);
        const int errorsBefore = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
        Start(row, languageFile, stored);
        HWND first = WaitForWindow(m_tool->pid(), [](HWND h) { return IsSettingsDialog(h) || IsMessageBox(h); }, kStartAllowMs);
        const size_t startLines = m_run->Log().size();  // the start's calls are over once a window shows
        const bool fatal = start.back() == '!';
        if (fatal) ExpectFatal(start == "object!" ? kNoObject : kNoStatus);
        if (!fatal && first != nullptr) ExpectScheduleView(first, start, languageFilePath);
        bool adapterChecked = !fatal && first != nullptr && StateOf(first, IDC_ADAPTER_MODE).checked;
        for (size_t at = 0; first != nullptr && !fatal && at < m_row.script.size() && ::IsWindow(first); at += 2) {
            const char action = m_row.script[at];
            if (!Ping(first, kAllowMs)) ADD_FAILURE() << "the dialog did not answer within the bound";
            adapterChecked = StateOf(first, IDC_ADAPTER_MODE).checked;
            const size_t before = m_run->Log().size();
            if (action == 'a') {
                HWND about = OpenAbout(first, IDM_ABOUTBOX, kAllowMs);
                EXPECT_TRUE(about != nullptr && Click(about, IDOK, kAllowMs)) << "the about box did not open and close";
            } else if (action == 'x' || action == 'r') {
                EXPECT_TRUE(PressKey(first, action == 'x' ? VK_ESCAPE : VK_RETURN, kAllowMs));  // Enter may click a button
            } else if (action == 'c') {
                ::PostMessageW(first, WM_SYSCOMMAND, SC_CLOSE, 0);
                break;
            } else {  // a user clicks only what is enabled
                const int id = std::vector<int>{IDC_ENABLE, IDC_DISABLE, IDC_ADAPTER_MODE, IDC_ADAPTER_BATTERY_MODE}[std::string("EDAB").find(action)];
                DWORD_PTR ignored = 0;
                if (StateOf(first, id).enabled) ::SendMessageTimeoutW(::GetDlgItem(first, id), BM_CLICK, 0, 0, SMTO_NORMAL, 50, &ignored);
            }
            // A change that was not applied is said once the click is over: the state read back, or not available.
            HWND box = nullptr;
            EXPECT_TRUE(WaitUntil([&] { return (box = MessageBoxOf(m_tool->pid())) != nullptr || !::IsWindow(first) || Ping(first, 50); },
                                  3 * kAllowMs)) << "a click not handled within the bound";
            if ((box = MessageBoxOf(m_tool->pid())) != nullptr) {
                EXPECT_EQ(TextOf(::GetDlgItem(box, 0xFFFF)), LanguageText(languageFilePath, 13));
                EXPECT_EQ(::GetWindow(box, GW_OWNER), first);
                EXPECT_TRUE(Click(box, IDOK, kAllowMs));
                EXPECT_TRUE(Ping(first, kAllowMs));
                ExpectScheduleView(first, ReadBackView(m_run->Log(), before, firmware, adapterStored), languageFilePath);
            }
            if (::IsWindow(first) && Ping(first, kAllowMs)) adapterChecked = StateOf(first, IDC_ADAPTER_MODE).checked;
            EXPECT_TRUE(WaitUntil([&] { return WaitForWindow(m_tool->pid(), [&](HWND h) { return h != first; }, 0) == nullptr; },
                                  kAllowMs)) << "a window besides the dialog, after " << action;
        }
        if (first != nullptr && !fatal && m_row.script.find('c') == std::string::npos && ::IsWindow(first) && Ping(first, kAllowMs)) {
            adapterChecked = StateOf(first, IDC_ADAPTER_MODE).checked;  // not yet closing: read before the close
            ::PostMessageW(first, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        EXPECT_NE(first, nullptr) << "neither the dialog nor a message within the bound";
        if (!fatal) ExpectEnd();
        EXPECT_EQ(ReadStored(), fatal || row.before == kBlocked ? m_storedBefore : Dword(adapterChecked ? 1 : 0))
            << "the stored mode: unchanged after a fatal start or where it cannot be, else the mode checked at the end";
        const bool missingPath = row.scenario.find("MissingPath=1") != std::string::npos;
        ExpectPromisesKept(m_run->Log(), startLines, fatal, missingPath);
        if (random() % 100 < 30) {  // the command line on the same firmware, in a run of its own
            static const char* const kCommands[] = {"status", "on", "off", "mode adapter", "on battery --json", "mode", "frob"};
            const std::string command = kCommands[random() % std::size(kCommands)];
            SimRun ctlRun(FreshFolder(std::string(row.name) + "-ctl"));
            ctlRun.Scenario(row.scenario);
            const Captured ctl = RunCaptured(L"\"" + WinPath(PELLORAN_CTL_PATH) + L"\" " + std::wstring(command.begin(), command.end()),
                                             ctlRun.folder, 4 * (kStartBoundMs + 2 * kBoundMs));
            EXPECT_LE(ctl.exit, 6u) << "pelloranctl " << command << ": an exit code from its list, within the bounds";
            ExpectPromisesKept(ctlRun.Log(), ctlRun.Log().size(), false, missingPath);
        }
        TearDown();
        failed += ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() != errorsBefore;
    }
    std::printf("%u passed, %u failed\n", count - failed, failed);
}

}  // namespace
