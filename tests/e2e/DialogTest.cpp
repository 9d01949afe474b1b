// The dialog's reactions end to end: the real Pelloran.exe under Wine against the firmware simulator, read
// and clicked from outside as a user would. One row per scenario: the simulated firmware, the stored mode,
// the language file, what the user does and sees, what the firmware is sent and what is stored.
#include "res/resource.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

using namespace testsupport;

namespace {

constexpr wchar_t kMutexName[] = L"165123CA-1478-4474-A229-3CF2CBFE60A4";  // the name other copies look for
constexpr int kNothing = -1;  // stored mode: no value
constexpr int kBlocked = -2;  // stored mode: its key cannot be created

struct Row {
    const char* name;
    const char* scenario;   // the simulator's keys, "Key=Value;..." (by default the feature is present and off)
    int before, after;      // the stored mode before the start and after the end
    const char* script;     // steps separated by ';' (see RunStep)
    std::vector<int> sent;  // control values the firmware was sent, in order
    const char* setup = "";  // "mutex", "event" (holding the single-instance name), "nolang"
    int section = 1;        // the language file's section that the locale chooses
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// Texts of the test's language file: none is a template's text, and each names its section and key.
std::wstring TestText(int section, int key, bool edited) {
    return L"[" + std::to_wstring(section) + L"] S" + std::to_wstring(key) + L" \u00E9t\u00E9" +
           (edited && (key == 9 || key == 10) ? L" (edited)" : L"");
}

std::string TestLanguageFile(bool edited) {
    std::wstring text;
    for (int section : {1, 303}) {
        text += L"[" + std::to_wstring(section) + L"]\r\n";
        for (int key = 1; key <= 12; ++key)
            text += L"S" + std::to_wstring(key) + L"=" + TestText(section, key, edited) + L"\r\n";
    }
    return Utf16File(text);
}

class DialogTest : public ::testing::TestWithParam<Row> {
protected:
    // One copy of the tool for all rows, beside its language file and a planted DLL it must never load.
    static void SetUpTestSuite() {
        s_folder = FreshFolder("e2e-tool");
        ::CopyFileW(WinPath(PELLORAN_EXE_PATH).c_str(), (s_folder + L"\\Pelloran.exe").c_str(), FALSE);
        ::CopyFileW(WinPath(PELLORAN_SIM_PATH).c_str(), (s_folder + L"\\PelloranPlanted.dll").c_str(), FALSE);
    }

    void SetUp() override {
        const Row& row = GetParam();
        m_run = std::make_unique<SimRun>(FreshFolder(row.name));
        m_run->Scenario(std::string(row.scenario) + ";ProbeDll=PelloranPlanted.dll");
        if (row.before == kBlocked) BlockStoredKey(true);
        Store(row.before >= 0 ? Dword(static_cast<DWORD>(row.before)) : Stored{REG_NONE, ""});
        m_hasLanguageFile = std::string(row.setup) != "nolang";
        ::DeleteFileW((s_folder + L"\\PelloranLang.ini").c_str());
        if (m_hasLanguageFile) WriteFileBytes(s_folder + L"\\PelloranLang.ini", TestLanguageFile(false));
        if (std::string(row.setup) == "mutex") m_held = ::CreateMutexW(nullptr, FALSE, kMutexName);
        if (std::string(row.setup) == "event") m_held = ::CreateEventW(nullptr, TRUE, FALSE, kMutexName);
    }

    void TearDown() override {
        if (m_held != nullptr) ::CloseHandle(m_held);
        if (GetParam().before == kBlocked) BlockStoredKey(false);
    }

    // The text of a key as the language file in use holds it (empty without a file).
    std::wstring Text(int key) const {
        return m_hasLanguageFile ? TestText(GetParam().section, key, m_edited) : L"";
    }

    // The settings dialog; the first time, also what initialisation alone decides: texts and place.
    HWND Dialog() {
        if (m_dialog != nullptr) return m_dialog;
        m_dialog = WaitForWindow(m_tool->pid(), &IsSettingsDialog);
        EXPECT_NE(m_dialog, nullptr) << "no settings dialog";
        if (m_dialog == nullptr) return nullptr;
        m_buttonTexts = {Text(9), Text(10)};
        EXPECT_EQ(StateOf(m_dialog, IDC_STATUS_LABEL).text, Text(8));
        EXPECT_EQ(StateOf(m_dialog, IDC_ADAPTER_MODE).text, Text(11));
        EXPECT_EQ(StateOf(m_dialog, IDC_ADAPTER_BATTERY_MODE).text, Text(12));
        std::wstring description;  // seven paragraphs, an empty line after the third
        for (int key = 1; key <= 7; ++key) description += (key == 1 ? L"" : key == 4 ? L"\r\n\r\n" : L"\r\n") + Text(key);
        EXPECT_EQ(StateOf(m_dialog, IDC_DESCRIPTION).text, description);
        RECT window;
        ::GetWindowRect(m_dialog, &window);
        MONITORINFO monitor = {sizeof(monitor)};
        ::GetMonitorInfoW(::MonitorFromWindow(m_dialog, MONITOR_DEFAULTTONEAREST), &monitor);
        EXPECT_LE(std::abs(window.left + window.right - monitor.rcWork.left - monitor.rcWork.right), 2) << "not centred";
        EXPECT_LE(std::abs(window.top + window.bottom - monitor.rcWork.top - monitor.rcWork.bottom), 2) << "not centred";
        return m_dialog;
    }

    // "on A", "off B", ...: the on or off form, with Adapter Mode (A) or Adapter + Battery Mode (B) checked.
    void ExpectView(const std::string& view) {
        HWND dialog = Dialog();
        ASSERT_NE(dialog, nullptr);
        const bool on = view.rfind("on", 0) == 0, adapter = view.back() == 'A';
        EXPECT_EQ(StateOf(dialog, IDC_STATUS_TEXT).text, Text(on ? 9 : 10));
        EXPECT_EQ(StateOf(dialog, IDC_ENABLE).text, m_buttonTexts.first);
        EXPECT_EQ(StateOf(dialog, IDC_DISABLE).text, m_buttonTexts.second);
        EXPECT_EQ(StateOf(dialog, IDC_ENABLE).enabled, !on);
        EXPECT_EQ(StateOf(dialog, IDC_DISABLE).enabled, on);
        for (int id : {IDC_ADAPTER_MODE, IDC_ADAPTER_BATTERY_MODE}) {
            EXPECT_EQ(StateOf(dialog, id).enabled, on) << id;
            EXPECT_EQ(StateOf(dialog, id).checked, adapter == (id == IDC_ADAPTER_MODE)) << id;
        }
    }

    // One of the two fatal messages: shown alone, owned by the hidden dialog, then the end with code 0.
    void ExpectFatal(const std::string& text) {
        HWND box = WaitForWindow(m_tool->pid(), &IsMessageBox);
        ASSERT_NE(box, nullptr) << "no message box";
        EXPECT_EQ(TextOf(::GetDlgItem(box, 0xFFFF)), std::wstring(text.begin(), text.end()));
        EXPECT_EQ(TextOf(box), L"Pelloran");
        EXPECT_NE(::SendMessageW(::GetDlgItem(box, 1088), STM_GETICON, 0, 0), 0) << "no exclamation icon";
        EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr) << "more than an OK button";
        HWND owner = ::GetWindow(box, GW_OWNER);
        EXPECT_TRUE(owner != nullptr && ::GetDlgItem(owner, IDC_ENABLE) != nullptr && !::IsWindowVisible(owner));
        Click(box, IDOK);
        ExpectEnd();
    }

    void ExpectEnd() {
        EXPECT_EQ(m_tool->WaitForExit(), 0u);
        m_ended = true;
    }

    void Close(UINT message, WPARAM command) {
        ::PostMessageW(Dialog(), message, command, 0);
        ExpectEnd();
    }

    void RunStep(const std::string& step) {
        if (step.rfind("on", 0) == 0 || step.rfind("off", 0) == 0) return ExpectView(step);
        if (step[0] == '!') return ExpectFatal(step.substr(1));
        if (step == "gone") {  // ended at once, before talking to the firmware
            ExpectEnd();
            EXPECT_TRUE(m_run->Log("Locator").empty());
            return;
        }
        switch (step[0]) {
        case 'E': return Click(Dialog(), IDC_ENABLE);
        case 'D': return Click(Dialog(), IDC_DISABLE);
        case 'A': return Click(Dialog(), IDC_ADAPTER_MODE);
        case 'B': return Click(Dialog(), IDC_ADAPTER_BATTERY_MODE);
        case 'x': return Close(WM_COMMAND, IDCANCEL);  // the Escape key
        case 'r': return Close(WM_COMMAND, IDOK);      // the Enter key
        case 'e':  // the language file edited while the dialog is open
            m_edited = true;
            return WriteFileBytes(s_folder + L"\\PelloranLang.ini", TestLanguageFile(true));
        case 'a': {  // the about box, through a command that differs from the about entry in ignored bits
            HWND dialog = Dialog();
            ::PostMessageW(dialog, WM_SYSCOMMAND, 0x0001001F, 0);
            HWND about = WaitForWindow(m_tool->pid(), [](HWND h) {
                return IsDialog(h) && !IsSettingsDialog(h) && ::GetDlgItem(h, IDOK) != nullptr;
            });
            ASSERT_NE(about, nullptr) << "no about box";
            EXPECT_EQ(::GetWindow(about, GW_OWNER), dialog);
            EXPECT_FALSE(::IsWindowEnabled(dialog)) << "the dialog is not disabled while the about box is open";
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

    static std::wstring s_folder;
    std::unique_ptr<SimRun> m_run;
    std::unique_ptr<ToolProcess> m_tool;
    HANDLE m_held = nullptr;
    HWND m_dialog = nullptr;
    bool m_hasLanguageFile = true, m_edited = false, m_ended = false;
    std::pair<std::wstring, std::wstring> m_buttonTexts;
};

std::wstring DialogTest::s_folder;

TEST_P(DialogTest, Scenario) {
    const Row& row = GetParam();
    m_tool = std::make_unique<ToolProcess>(s_folder + L"\\Pelloran.exe");
    std::istringstream steps(row.script);
    for (std::string step; std::getline(steps >> std::ws, step, ';') && !HasFatalFailure();) {
        SCOPED_TRACE(step);
        RunStep(step);
    }
    if (!m_ended) Close(WM_SYSCOMMAND, SC_CLOSE);
    EXPECT_EQ(m_run->ControlValues(), row.sent);
    EXPECT_EQ(ReadStored(), (row.after >= 0 ? Dword(static_cast<DWORD>(row.after)) : Stored{REG_NONE, ""}));
    EXPECT_EQ(m_run->Log("Probe").size(), m_run->Log("Locator").size());
    for (const SimLogEntry& probe : m_run->Log("Probe")) EXPECT_EQ(probe["loaded"], "<null>") << "a planted DLL loaded";
}

const char kNoStatus[] = "!Can't get WMI Pelloran status";
const char kNoObject[] = "!Can't get WMI TolvekManagement object";

INSTANTIATE_TEST_SUITE_P(Rows, DialogTest, ::testing::Values(
    // No connection: the default state, and commands that change only the dialog.
    Row{"NotConnected", "ConnectHr=WBEM_E_ACCESS_DENIED", kNothing, 0, "on A; D; off A; E; on A; B; on B", {}},
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
    // A mode byte the dialog does not know: the default state, with live commands.
    Row{"UnknownMode", "StatusWord=0x10011", 0, 1, "on A; D; off A", {0}},
    // The two fatal starts leave the stored mode alone.
    Row{"PresenceBitClear", "StatusWord=0x20001", 0, 0, kNoStatus, {}},
    Row{"NoInstance", "Instances=0", 0, 0, kNoObject, {}},
    Row{"AboutBox", "StatusWord=0x10001", 0, 1, "on A; a; on A", {1}},
    Row{"SecondCopy", "StatusWord=0x10001", 0, 1, "on A; 2", {1}},
    Row{"AnotherCopyHoldsTheName", "StatusWord=0x10001", 0, 0, "gone", {}, "mutex"},
    Row{"OtherObjectHoldsTheName", "StatusWord=0x10001", 0, 1, "on A", {1}, "event"},
    Row{"NoLanguageFile", "StatusWord=0x10001", 0, 1, "on A; D; off A", {1, 0}, "nolang"},
    Row{"LanguageFileEdited", "StatusWord=0x10001", 0, 1, "on A; e; D; off A; E; on A", {1, 0, 1}},
    // Run by ctest under the French locale: the section of its language number.
    Row{"fr_FR", "StatusWord=0x10001", 0, 1, "on A", {1}, "", 303}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
