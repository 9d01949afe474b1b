// A run of the real Pelloran.exe under Wine against the firmware simulator, read and clicked from outside as a
// user would, and the interpreter of the steps that the end-to-end rows (DialogRows.cpp, where the step language
// is listed) and the random schedules (RandomSchedules.cpp) are written in.
#pragma once

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
// A click's firmware bound and the start-up's, and several times each as the time a test allows them.
constexpr DWORD kBoundMs = 3000, kAllowMs = 4 * kBoundMs, kStartBoundMs = 10000, kStartAllowMs = 4 * kStartBoundMs;
constexpr int kNothing = -1, kBlocked = -2;  // stored modes: no value; a key that cannot be created

struct Row {
    const char* name;
    std::string scenario;   // the simulator's keys, "Key=Value;..." (by default the feature is present and off)
    int before, after;      // the stored mode before the start and after the end
    std::string script;     // steps separated by ';' (the step language: DialogRows.cpp)
    std::vector<int> sent;  // control values the firmware was sent, in order
    const char* setup = "";  // "mutex", "event" (holding the single-instance name), "nolang", "no1314" (a language
                             // file without S13 and S14), "sta" (an input method's apartment on the tool's thread),
                             // "p0", "p1", "p3" (the machine's policy: REG_DWORD 0, 1, 3), "pBIN" (REG_BINARY 3: no policy)
    int section = 1;        // the language file's section that the locale chooses
};

inline void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// Texts of the test's language file: none is a template's text, and each names its section and key.
inline std::wstring TestText(int section, int key, bool edited) {
    return L"[" + std::to_wstring(section) + L"] S" + std::to_wstring(key) + L" \u00E9t\u00E9" +
           (edited && (key == 9 || key == 10) ? L" (edited)" : L"");
}

inline std::string TestLanguageFile(bool edited, int keys = 15) {
    std::wstring text;
    for (int section : {1, 303, 600, 619})
        for (int key = 1; key <= keys; ++key)
            text += (key == 1 ? L"[" + std::to_wstring(section) + L"]\r\n" : L"") + L"S" + std::to_wstring(key) + L"=" +
                    TestText(section, key, edited) + L"\r\n";
    return Utf16File(text);
}

// The control value a policy value sets: a REG_DWORD of 0, 1 or 3; -1 for any other value, or none.
inline int PolicyControl(const Stored& policy) {
    const DWORD value = policy.bytes.size() == 4 ? *reinterpret_cast<const DWORD*>(policy.bytes.data()) : 99;
    return policy.type == REG_DWORD && (value == 0 || value == 1 || value == 3) ? int(value) : -1;
}

inline DWORD ExStyle(HWND window) { return static_cast<DWORD>(::GetWindowLongW(window, GWL_EXSTYLE)); }

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
        const std::string setup = row.setup;
        const Stored policy = setup == "p0" || setup == "p1" || setup == "p3" ? Dword(DWORD(setup[1] - '0'))
                              : setup == "pBIN" ? Stored{REG_BINARY, std::string("\3\0\0\0", 4)} : m_policy;
        m_locked = PolicyControl(policy) >= 0;
        StorePolicy(policy);
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
        StorePolicy({REG_NONE, ""});
    }

    // The text of a key as the language file in use holds it (empty without a file); for S13 and S14 the English
    // texts built into the program where the file has none.
    std::wstring Text(int key) const {
        const std::string setup = m_row.setup;
        if (key == 13 && (setup == "nolang" || setup == "no1314")) return kEnglishChangeNotApplied;
        if (key == 14 && (setup == "nolang" || setup == "no1314")) return kEnglishNotAvailable;
        if (key == 15 && setup == "nolang") return kEnglishManaged;
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
        // Seven paragraphs, an empty line after the third; under a policy, first S15 and an empty line.
        std::wstring description = m_locked ? Text(15) + L"\r\n\r\n" : L"";
        for (int key = 1; key <= 7; ++key) description += (key == 1 ? L"" : key == 4 ? L"\r\n\r\n" : L"\r\n") + Text(key);
        EXPECT_EQ(StateOf(m_dialog, IDC_DESCRIPTION).text, description);
        if (m_locked && m_row.script.find("W!") == std::string::npos) {  // every switch disabled (and no warning on top):
                                                                         // the focus in the description, its caret at the
                                                                         // start, nothing selected
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

    // A click whose change the firmware did not apply: the warning about it, owned by the dialog, confirmed; then
    // the click is over.
    void ClickNotApplied(int controlId) {
        ::PostMessageW(::GetDlgItem(Dialog(), controlId), BM_CLICK, 0, 0);  // its handler waits for the message
        ExpectNotApplied();
    }

    // The warning that a change was not applied, owned by the dialog, confirmed; then the dialog answers again.
    void ExpectNotApplied() {
        HWND dialog = Dialog(), box = WaitForWindow(m_tool->pid(), &IsMessageBox, 3 * kAllowMs);
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
        if (step == "W!") return ExpectNotApplied();
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

    inline static std::wstring s_folder;
    Row m_row{};
    std::unique_ptr<SimRun> m_run;
    std::unique_ptr<ToolProcess> m_tool;
    HANDLE m_held = nullptr;
    std::unique_ptr<ApartmentAlreadyJoined> m_apartment;
    HWND m_dialog = nullptr;
    Stored m_storedBefore;
    Stored m_policy{REG_NONE, ""};  // the machine's policy for a row whose setup names none
    bool m_edited = false, m_ended = false, m_locked = false;
    std::pair<std::wstring, std::wstring> m_buttonTexts;
};

}  // namespace e2e
