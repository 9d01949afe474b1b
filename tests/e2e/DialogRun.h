// A run of the real Pelloran.exe under Wine against the firmware simulator, read and clicked from outside as a
// user would, and the interpreter of the steps that the end-to-end rows (DialogRows.cpp) and the random schedules
// (RandomSchedules.cpp) are written in. A row's scenario is in the simulator's language (sim/README.md, section
// "Scenario keys and the fault language"); its steps, separated by ';', are:
//
//   on|off|na A|B   the feature shown on, off or not available (every switch disabled), with Adapter Mode (A) or
//                   Adapter + Battery Mode (B) checked; the texts are the language file's
//   E  D  A  B      a click on Enable, Disable, Adapter Mode, Adapter + Battery Mode
//   E! D! A! B!     the same click, not applied: the warning (S13) owned by the dialog, OK button only, confirmed
//   W!              the same warning after the start (the policy's state not taken)
//   object! status! the fatal message of a missing object or status, then the end with code 0
//   gone            the tool ended at once, before it called the firmware
//   #method=n       the firmware method attempted n times so far (#method<n: fewer than n)
//   ~method ~Kind   wait for a call of the method to answer, however late; or for a simulated object to be freed
//   path=n          every method call addressed the instance numbered n
//   rtl  ltr        the dialog mirrored and read right to left, or neither
//   x  r            Escape or Enter: the dialog ends, with code 0
//   e  a  2         the language file edited; the about box opened (owned, dialog disabled) and closed; a second
//                   copy started, which ends without calling the firmware
//
// Under a policy every view has all four switches disabled, the description starts with S15 and has the focus. After
// the last step the dialog is closed if still open, and every run is checked for what holds always: a clean end, a
// blanket on every proxy before its first call, the connection made in the multithreaded apartment, no planted DLL
// loaded, the DPI awareness.
#pragma once

#include "firmware/WmiClient.h"
#include "lang/LangFile.h"
#include "tests/driver/DialogWindows.h"
#include "tests/support/Files.h"
#include "tests/support/Processes.h"
#include "tests/support/SimRun.h"
#include "tests/support/StoredMode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

using namespace testsupport;

constexpr wchar_t kMutexName[] = L"165123CA-1478-4474-A229-3CF2CBFE60A4";  // the name other copies look for
constexpr wchar_t kNoObject[] = L"Can't get WMI TolvekManagement object", kNoStatus[] = L"Can't get WMI Pelloran status";
// Several times a firmware call's bound and the start-up's, as the time a test allows them.
constexpr DWORD kAllowMs = 4 * kFirmwareBoundMs, kStartAllowMs = 4 * kStartupBoundMs;
// Stored modes: Adapter Mode, Adapter + Battery Mode, no value, a key that cannot be created; a row's mode after the
// end by default.
constexpr int kAdapter = 1, kAdapterBattery = 0, kNothing = -1, kBlocked = -2, kAsBefore = -3;
constexpr int kButtons[] = {IDC_ENABLE, IDC_DISABLE, IDC_ADAPTER_MODE, IDC_ADAPTER_BATTERY_MODE};  // E D A B

// What a row prepares besides the scenario and the stored mode.
enum class Setup {
    None,
    Mutex, Event,               // another copy holding the single-instance name; another kind of object holding it
    NoLanguageFile, No13And14,  // no language file; one without S13 and S14
    Apartment,                  // an input method's single-threaded apartment on the tool's thread
    PolicyOff, PolicyAdapter, PolicyBattery,  // the machine's policy: REG_DWORD 0, 1, 3
    PolicyBinary,               // a policy of REG_BINARY 3, which is none
};

struct Row {
    const char* name;
    std::string scenario;                      // the simulator's keys, "Key=Value;..." (by default present and off)
    int before = kNothing, after = kAsBefore;  // the stored mode before the start and after the end
    std::string steps;                         // separated by ';' (the step language: above)
    std::vector<int> sent;                     // control values the firmware was sent, in order
    Setup setup = Setup::None;
    int section = 1;                           // the language file's section that the locale chooses
};

inline void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// The test's language file: each text names its section and key (S9 and S10 marked once edited), so that none is a
// template's; keys S1 to S<keys> in the C locale's section and in those of the locales the rows run under.
inline std::string TestLanguageFile(bool edited, int keys = 15) {
    std::wstring text;
    for (const std::wstring section : {L"1", L"303", L"600", L"619"}) {
        text += L"[" + section + L"]\r\n";
        for (int key = 1; key <= keys; ++key)
            text += L"S" + std::to_wstring(key) + L"=[" + section + L"] S" + std::to_wstring(key) + L" \u00E9t\u00E9" +
                    (edited && (key == 9 || key == 10) ? L" (edited)" : L"") + L"\r\n";
    }
    return Utf16File(text);
}

// The control value a policy value sets: a REG_DWORD of 0, 1 or 3; -1 for any other value, or none.
inline int PolicyControl(const Stored& policy) {
    const DWORD value = policy.bytes.size() == 4 ? *reinterpret_cast<const DWORD*>(policy.bytes.data()) : 99;
    return policy.type == REG_DWORD && (value == 0 || value == 1 || value == 3) ? int(value) : -1;
}

// A stored mode of a row: a REG_DWORD, or none.
inline Stored StoredMode(int mode) { return mode >= 0 ? Dword(DWORD(mode)) : Stored{REG_NONE, ""}; }

inline DWORD ExStyle(HWND window) { return static_cast<DWORD>(::GetWindowLongW(window, GWL_EXSTYLE)); }

class DialogRun : public ::testing::Test {
protected:
    // One copy of the tool for all runs, beside its language file and a planted DLL it must never load; one per Wine
    // prefix, since the random schedules run in a prefix of their own beside the rows.
    static void SetUpTestSuite() {
        const char* prefix = std::getenv("WINEPREFIX");
        s_folder = FreshFolder("e2e-tool-" + (prefix != nullptr ? std::filesystem::path(prefix).filename().string() : "tests"));
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
        if (row.setup != Setup::NoLanguageFile)
            WriteFileBytes(s_folder + L"\\PelloranLang.ini", row.setup == Setup::No13And14 ? TestLanguageFile(false, 12) : languageFile);
        if (row.setup == Setup::Mutex) m_held = ::CreateMutexW(nullptr, FALSE, kMutexName);
        if (row.setup == Setup::Event) m_held = ::CreateEventW(nullptr, TRUE, FALSE, kMutexName);
        m_apartment.reset(row.setup == Setup::Apartment ? new ApartmentAlreadyJoined() : nullptr);
        const Stored policy = row.setup == Setup::PolicyBinary ? Stored{REG_BINARY, std::string("\3\0\0\0", 4)}
                              : row.setup >= Setup::PolicyOff ? Dword(std::vector<DWORD>{0, 1, 3}[int(row.setup) - int(Setup::PolicyOff)])
                                                              : m_policy;
        m_locked = PolicyControl(policy) >= 0;
        StorePolicy(policy);
        if (m_apartment != nullptr) {
            ASSERT_TRUE(m_apartment->active()) << "no hook";
        }
        m_tool = std::make_unique<ToolProcess>(s_folder + L"\\Pelloran.exe");
        m_dialog = nullptr;
        m_ended = false;
    }

    void TearDown() override {
        if (m_held != nullptr) ::CloseHandle(m_held);
        m_held = nullptr;
        m_apartment.reset();
        BlockStoredKey(false);
        StorePolicy({REG_NONE, ""});
    }

    // The text of a key as the tool's language file holds it in the row's section (empty without a file); for S13, S14
    // and S15 the English texts built into the program where the file has none.
    std::wstring Text(int key) const {
        wchar_t text[256] = {};
        ::GetPrivateProfileStringW(std::to_wstring(m_row.section).c_str(), (L"S" + std::to_wstring(key)).c_str(), L"", text, 256,
                                   (s_folder + L"\\PelloranLang.ini").c_str());
        if (text[0] != L'\0' || key < 13) return text;
        return key == 13 ? kEnglishChangeNotApplied : key == 14 ? kEnglishNotAvailable : kEnglishManaged;
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
        // Seven paragraphs, an empty line after the third; under a policy, first S15 and an empty line.
        std::wstring description = m_locked ? Text(15) + L"\r\n\r\n" : L"";
        for (int key = 1; key <= 7; ++key) description += (key == 1 ? L"" : key == 4 ? L"\r\n\r\n" : L"\r\n") + Text(key);
        EXPECT_EQ(StateOf(m_dialog, IDC_DESCRIPTION).text, description);
        // Every switch disabled (and no warning on top): the focus in the description, its caret at the start, nothing
        // selected.
        if (m_locked && m_row.steps.find("W!") == std::string::npos) {
            GUITHREADINFO gui = {sizeof(gui)};
            ::GetGUIThreadInfo(::GetWindowThreadProcessId(m_dialog, nullptr), &gui);
            EXPECT_EQ(gui.hwndFocus, ::GetDlgItem(m_dialog, IDC_DESCRIPTION));
            EXPECT_EQ(::SendMessageW(::GetDlgItem(m_dialog, IDC_DESCRIPTION), EM_GETSEL, 0, 0), 0);
        }
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
        EXPECT_EQ(StateOf(dialog, IDC_ENABLE).enabled, !on && !na && !m_locked);  // a policy locks every switch
        EXPECT_EQ(StateOf(dialog, IDC_DISABLE).enabled, on && !m_locked);
        for (int id : {IDC_ADAPTER_MODE, IDC_ADAPTER_BATTERY_MODE}) {
            EXPECT_EQ(StateOf(dialog, id).enabled, on && !m_locked) << id;
            EXPECT_EQ(StateOf(dialog, id).checked, adapter == (id == IDC_ADAPTER_MODE)) << id;
        }
    }

    // A message of the tool, alone with its warning icon and OK button, confirmed: the warning that a change was not
    // applied, owned by the dialog, which then answers again; or a fatal message, owned by the hidden dialog, then the
    // end with code 0.
    void ExpectMessage(const std::wstring& text, bool fatal) {
        HWND dialog = fatal ? nullptr : Dialog(), box = WaitForWindow(m_tool->pid(), &IsMessageBox, fatal ? kStartAllowMs : 3 * kAllowMs);
        ASSERT_NE(box, nullptr) << "no message box";
        EXPECT_EQ(TextOf(::GetDlgItem(box, 0xFFFF)), text);
        EXPECT_EQ(TextOf(box), L"Pelloran");
        EXPECT_NE(::SendMessageW(::GetDlgItem(box, 1088), STM_GETICON, 0, 0), 0) << "no icon";
        EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr) << "more than an OK button";
        HWND owner = ::GetWindow(box, GW_OWNER);
        EXPECT_TRUE(fatal ? owner != nullptr && ::GetDlgItem(owner, IDC_ENABLE) != nullptr && !::IsWindowVisible(owner) : owner == dialog);
        EXPECT_TRUE(Click(box, IDOK, kAllowMs));
        if (fatal) return ExpectEnd();
        EXPECT_TRUE(Ping(dialog, kAllowMs));
    }

    void ExpectEnd() {
        EXPECT_EQ(m_tool->WaitForExit(kStartAllowMs), 0u) << "no clean end";
        m_ended = true;
    }

    // The lines of an event in the log whose field has the value: the attempts of a method ("ExecMethod", "method"), ...
    size_t Logged(const std::string& event, const std::string& field, const std::string& value) const {
        const std::vector<SimLogEntry> lines = m_run->Log(event);
        return std::count_if(lines.begin(), lines.end(), [&](const SimLogEntry& line) { return line[field] == value; });
    }

    void RunStep(const std::string& step) {
        if (step.rfind("on", 0) == 0 || step.rfind("off", 0) == 0 || step.rfind("na", 0) == 0) return ExpectView(step);
        const size_t button = std::string("EDABW").find(step[0]);  // W: no button, the warning after the start
        if (button != std::string::npos && step.size() == 2 && step[1] == '!') {  // a click that is not applied
            if (button < 4) ::PostMessageW(::GetDlgItem(Dialog(), kButtons[button]), BM_CLICK, 0, 0);  // its handler waits for it
            return ExpectMessage(Text(13), false);
        }
        if (button < 4 && step.size() == 1) return (void)Click(Dialog(), kButtons[button]);
        if (step == "object!" || step == "status!") return ExpectMessage(step == "object!" ? kNoObject : kNoStatus, true);
        if (step == "gone") {  // ended at once, before talking to the firmware
            ExpectEnd();
            EXPECT_TRUE(m_run->Log("Locator").empty());
            return;
        }
        if (step[0] == '#') {  // "#method=n": attempts of a firmware method so far; "#method<n": fewer than n
            const size_t at = step.find_first_of("=<"), attempts = Logged("ExecMethod", "method", step.substr(1, at - 1));
            const size_t bound = std::stoul(step.substr(at + 1));
            EXPECT_TRUE(step[at] == '=' ? attempts == bound : attempts < bound) << attempts << " attempts";
            return;
        }
        if (step[0] == '~') {  // "~method": wait for the answer of a call of the method, however late; "~Kind": for an
                               // object of that kind to be freed
            const bool kind = std::isupper(static_cast<unsigned char>(step[1]));
            EXPECT_TRUE(WaitUntil([&] { return Logged(kind ? "Free" : "Answer", kind ? "kind" : "method", step.substr(1)) > 0; }));
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
        case 'x': ::PostMessageW(Dialog(), WM_COMMAND, IDCANCEL, 0); return ExpectEnd();  // the Escape key
        case 'r': ::PostMessageW(Dialog(), WM_COMMAND, IDOK, 0); return ExpectEnd();      // the Enter key
        case 'e':  // the language file edited while the dialog is open
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

    void RunSteps() {
        std::istringstream steps(m_row.steps);
        for (std::string step; std::getline(steps >> std::ws, step, ';') && !HasFatalFailure();) {
            SCOPED_TRACE(step);
            RunStep(step);
        }
        if (!m_ended && Ping(Dialog(), kAllowMs)) ::PostMessageW(Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
        if (!m_ended) ExpectEnd();
        EXPECT_EQ(ProxyCallsWithoutBlanket(m_run->Log()), "");
        // Connected in the multithreaded apartment; the query made in the tool's, which is that one unless an input
        // method made the thread single-threaded before.
        for (const SimLogEntry& line : m_run->Log()) {
            if (line.event == "ConnectServer" || line.event == "Marshal" || line.event == "ExecQuery") {
                EXPECT_EQ(line["apt"], line.event == "ExecQuery" && m_row.setup == Setup::Apartment ? "sta" : "mta") << line.event;
            }
        }
        EXPECT_EQ(m_run->Log("Probe").size(), m_run->Log("Locator").size());
        for (const SimLogEntry& probe : m_run->Log("Probe")) EXPECT_EQ(probe["loaded"], "<null>") << "a planted DLL loaded";
        // The tool's DPI awareness, read inside it: per-monitor v2 where Windows knows it, per-monitor otherwise (Wine 8).
        for (const SimLogEntry& locator : m_run->Log("Locator"))
            EXPECT_EQ(locator["dpi"], locator["pmv2"] == "yes" ? "permonitorv2" : "permonitor");
    }

    inline static std::wstring s_folder;
    Row m_row{};
    std::unique_ptr<SimRun> m_run;
    std::unique_ptr<ToolProcess> m_tool;
    HANDLE m_held = nullptr;
    std::unique_ptr<ApartmentAlreadyJoined> m_apartment;
    HWND m_dialog = nullptr;
    Stored m_storedBefore;
    Stored m_policy{REG_NONE, ""};  // the machine's policy for a row whose setup names none
    bool m_ended = false, m_locked = false;
    std::pair<std::wstring, std::wstring> m_buttonTexts;
};

}  // namespace e2e
