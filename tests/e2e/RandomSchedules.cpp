// Random schedules (make fuzz; a smoke run of 25 in the suite): the simulator's faults and answers, status words,
// instances, a stored mode of any type, a damaged language file and a user's clicks and keys, drawn from a seed.
// Every schedule must show the start its scenario predicts (SchedulePrediction.h), the state read back after a
// click that was not applied, the mode checked last as the stored mode, and keep the promises every run keeps.
#include "tests/e2e/SchedulePrediction.h"

#include "sim/SimCodes.h"

#include <cstdio>
#include <iterator>
#include <random>
#include <set>

namespace e2e {
namespace {

// Any code the scenario's language names.
std::string AnyCode(std::mt19937& random) {
    const std::wstring name = kSimNamedCodes[random() % std::size(kSimNamedCodes)].name;
    return std::string(name.begin(), name.end());
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
                                 : roll < 97 ? kFirmwareBoundMs + 1000 + random() % 3000 : kStartupBoundMs + random() % 2000));
    }
    if (chance(15) && script.find("never") == std::string::npos) script += "*";
    return script;
}

// A schedule: the simulator's faults and answers (codes, delays up to past the bounds, stalls, a cold start, a slow
// machine, refused blankets), status types and values, instances, a thread already single-threaded, a stored mode of
// any type, the machine's policy (none, each state, or a value that is none), a damaged language file and a user's
// clicks and keys.
Row AnySchedule(std::mt19937& random, unsigned seed, std::string& languageFile, Stored& stored, Stored& policy) {
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
    // One start-up step that stalls or answers past the start's bound, or a notebook just after log-on.
    if (chance(10)) {
        const char* step = std::vector<const char*>{"ConnectServer", "ExecQuery", "Next", "GetObject", "device_status"}[random() % 5];
        if (s.str().find(std::string(";Answers.") + step + "=") == std::string::npos)
            s << ";Answers." << step << "=" << (chance(50) ? std::string("never") : "@" + std::to_string(kStartupBoundMs + 1500 + random() % 3000));
    }
    if (chance(4)) s << ";SlowLogOn=1";
    if (chance(8)) s << ";Answers.*=@" << 2000 + random() % 7000;   // a cold start
    else if (chance(10)) s << ";Answers.*=@" << 1 + random() % 150 << "*";  // a slow machine

    // The shipped language file: intact, missing, truncated, binary garbage, a huge line, or in another encoding.
    const std::string shipped = ReadFileBytes(WinPath(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini"));
    const std::wstring text(reinterpret_cast<const wchar_t*>(shipped.data() + 2), (shipped.size() - 2) / 2);
    Setup setup = Setup::None;
    switch (random() % 8) {
    case 0: case 1: case 2: languageFile = shipped; break;
    case 3: setup = Setup::NoLanguageFile; break;
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
    if (setup == Setup::None && chance(10)) setup = Setup::Apartment;
    const unsigned drawn = random() % 10;  // mostly none; each state; a number or a type that is none
    policy = drawn < 4 ? Stored{REG_NONE, ""} : drawn < 9 ? Dword(std::vector<DWORD>{0, 1, 3, 3, 2}[drawn - 4])
                                                          : Stored{REG_BINARY, std::string("\1\0\0\0", 4)};
    return {.name = name.c_str(), .scenario = s.str(), .before = kind == 1 ? kBlocked : kNothing, .steps = script, .setup = setup};
}

// What every schedule must show, from the simulator's log: no wait for an answer longer than the bound (the start's
// for the lines of the start, a click's after), every proxy given its blanket before its first call, the firmware
// called only once it was found and only with control values 0, 1 and 3 (none after a fatal start), and no simulated
// object left behind (after a fatal start, none but what the client holds; a connection that never answered keeps
// its locator); under a policy, no control value but the policy's.
void ExpectPromisesKept(const std::vector<SimLogEntry>& log, size_t startLines, bool fatal, bool missingPath, int policy) {
    bool found = false, connected = false, reset = false;
    int counted = 0;  // the instances the counting pass handed back: the calls address the last of them
    for (size_t at = 0; at < log.size(); ++at) {
        const SimLogEntry& line = log[at];
        reset = reset || line.event == "Reset";
        counted += !reset && line.event == "Next" && !line["returned"].empty() && line["returned"] != "0";
        if (line.event == "Next" || line.event == "GetResultObject") {
            const long bound = long(at < startLines ? kStartupBoundMs : kFirmwareBoundMs);
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
            EXPECT_TRUE(policy < 0 || line["value"] == std::to_string(policy)) << line["value"] << " under policy " << policy;
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

// Whether the tool waits for a call's answer: a call result it was handed and has not let go of yet.
bool CallWaiting(const std::vector<SimLogEntry>& log) {
    std::set<std::string> waiting;
    for (const SimLogEntry& line : log) {
        if ((line.event == "ExecMethod" || line.event == "GetObject") && !line["result"].empty()) waiting.insert(line["result"]);
        if (line.event == "Free" && line["kind"] == "CallResult") waiting.erase(line["obj"]);
    }
    return !waiting.empty();
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

// One schedule after another, each a run of the tool on its own.
class ScheduleRun : public DialogRun {
protected:
    // A schedule's dialog: the view ("on", "off" or "na" by which switches are enabled, and the mode checked; under a
    // policy every switch disabled, as when not available), and the state text the language file in use gives it.
    void ExpectScheduleView(const std::string& view, bool locked = false) {
        const bool enable = StateOf(m_first, IDC_ENABLE).enabled, disable = StateOf(m_first, IDC_DISABLE).enabled;
        EXPECT_EQ(std::string(disable && !enable ? "on " : enable && !disable ? "off " : !enable && !disable ? "na " : "? ") +
                      (StateOf(m_first, IDC_ADAPTER_MODE).checked ? "A" : "B"), locked ? "na " + view.substr(view.size() - 1) : view);
        EXPECT_EQ(StateOf(m_first, IDC_STATUS_TEXT).text, Text(view[0] == 'n' ? 14 : view[1] == 'n' ? 9 : 10));
    }

    // A schedule of the seed whose start is certain (answers too near a bound are drawn again), run and checked.
    void RunSchedule(unsigned seed) {
        std::mt19937 random(seed);
        std::string languageFile, start;
        Stored stored{};
        Row row;
        int policy = -1;
        bool warns = false;
        do {
            row = AnySchedule(random, seed, languageFile, stored, m_policy);
            policy = PolicyControl(m_policy);
            // Under a policy the dialog reads the stored mode without writing one: a key that cannot be made reads as
            // nothing there, which shows Adapter Mode.
            m_adapterStored = StoredReadsAsAdapter(stored, row.before == kBlocked && policy < 0);
            Prediction prediction(row.scenario, m_adapterStored, policy);
            start = prediction.Start();
            warns = prediction.Warns();
        } while (start.empty());
        SCOPED_TRACE(testing::Message() << "seed " << seed << " (make fuzz N=1 SEED=" << seed << "), start " << start
                                        << (warns ? " with the warning" : "") << ", policy " << policy << ", actions " << row.steps);
        Start(row, languageFile, stored);
        const bool fatal = start.back() == '!';
        m_first = WaitForWindow(m_tool->pid(), [fatal](HWND h) { return fatal ? IsMessageBox(h) : IsSettingsDialog(h); }, kStartAllowMs);
        const size_t startLines = m_run->Log().size();  // the start's calls are over once a window shows
        if (fatal) ExpectMessage(start == "object!" ? kNoObject : kNoStatus, true);
        if (!fatal && m_first != nullptr) ExpectScheduleView(start, m_locked);
        m_dialog = m_first;  // no checks of the dialog's first texts: a damaged language file is read as it may be
        // A policy's state not taken at start is said once the dialog is up, and only then.
        if (!fatal && m_first != nullptr && warns) ExpectMessage(Text(13), false);
        else EXPECT_TRUE(fatal || MessageBoxOf(m_tool->pid()) == nullptr) << "a warning after the start";
        m_adapterChecked = !fatal && m_first != nullptr && StateOf(m_first, IDC_ADAPTER_MODE).checked;
        for (size_t at = 0; m_first != nullptr && !fatal && at < m_row.steps.size() && ::IsWindow(m_first); at += 2) {
            if (!RunAction(m_row.steps[at])) break;
        }
        if (m_first != nullptr && !fatal && m_row.steps.find('c') == std::string::npos && ::IsWindow(m_first) && Ping(m_first, kAllowMs)) {
            m_adapterChecked = StateOf(m_first, IDC_ADAPTER_MODE).checked;  // not yet closing: read before the close
            ::PostMessageW(m_first, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        EXPECT_NE(m_first, nullptr) << "neither the dialog nor a message within the bound";
        if (!fatal) ExpectEnd();
        EXPECT_EQ(ReadStored(), fatal || row.before == kBlocked || m_locked ? m_storedBefore : Dword(m_adapterChecked ? 1 : 0))
            << "the stored mode: unchanged after a fatal start, under a policy or where it cannot be, else the mode "
               "checked at the end";
        const bool missingPath = row.scenario.find("MissingPath=1") != std::string::npos;
        ExpectPromisesKept(m_run->Log(), startLines, fatal, missingPath, policy);
        if (random() % 100 < 30) RunCommandLine(row, random() % 8, missingPath, policy);
    }

    // One action of the user on the open dialog, and what it must show; false after the close box.
    bool RunAction(char action) {
        if (!Ping(m_first, kAllowMs)) ADD_FAILURE() << "the dialog did not answer within the bound";
        m_adapterChecked = StateOf(m_first, IDC_ADAPTER_MODE).checked;
        const size_t before = m_run->Log().size();
        if (action == 'a') {
            HWND about = OpenAbout(m_first, IDM_ABOUTBOX, kAllowMs);
            EXPECT_TRUE(about != nullptr && Click(about, IDOK, kAllowMs)) << "the about box did not open and close";
        } else if (action == 'x' || action == 'r') {
            EXPECT_TRUE(PressKey(m_first, action == 'x' ? VK_ESCAPE : VK_RETURN, kAllowMs));  // Enter may click a button
        } else if (action == 'c') {
            ::PostMessageW(m_first, WM_SYSCOMMAND, SC_CLOSE, 0);
            return false;
        } else {  // a user clicks only what is enabled
            const int id = kButtons[std::string("EDAB").find(action)];
            DWORD_PTR ignored = 0;
            if (StateOf(m_first, id).enabled) ::SendMessageTimeoutW(::GetDlgItem(m_first, id), BM_CLICK, 0, 0, SMTO_NORMAL, 50, &ignored);
        }
        // A change that was not applied is said once the click is over: the state read back, or not available. A thread
        // that an input method made single-threaded answers a sent message during a call too (in COM's modal loop), so
        // the dialog's answer counts only when no call was waiting for its answer before or after it.
        const auto idle = [&] {
            const size_t before = m_run->Log().size();
            const bool answered = !CallWaiting(m_run->Log()) && Ping(m_first, 50);
            return answered && m_run->Log().size() == before && !CallWaiting(m_run->Log());
        };
        EXPECT_TRUE(WaitUntil([&] { return MessageBoxOf(m_tool->pid()) != nullptr || !::IsWindow(m_first) || idle(); },
                              3 * kAllowMs)) << "a click not handled within the bound";
        if (MessageBoxOf(m_tool->pid()) != nullptr) {
            ExpectMessage(Text(13), false);
            ExpectScheduleView(ReadBackView(m_run->Log(), before, m_adapterStored));
        }
        if (::IsWindow(m_first) && Ping(m_first, kAllowMs)) m_adapterChecked = StateOf(m_first, IDC_ADAPTER_MODE).checked;
        EXPECT_TRUE(WaitUntil([&] { return WaitForWindow(m_tool->pid(), [&](HWND h) { return h != m_first; }, 0) == nullptr; },
                              kAllowMs)) << "a window besides the dialog, after " << action;
        return true;
    }

    // The command line on the same firmware, in a run of its own: an exit code from its list, the promises kept.
    void RunCommandLine(const Row& row, unsigned pick, bool missingPath, int policy) {
        static const char* const kCommands[] = {"status", "on", "off", "mode adapter", "on battery --json", "mode", "frob", "apply"};
        const std::string command = kCommands[pick % std::size(kCommands)];
        SimRun ctlRun(FreshFolder(std::string(row.name) + "-ctl"));
        ctlRun.Scenario(row.scenario);
        const Captured ctl = RunCaptured(L"\"" + WinPath(PELLORAN_CTL_PATH) + L"\" " + std::wstring(command.begin(), command.end()),
                                         ctlRun.folder, 4 * (kStartupBoundMs + 2 * kFirmwareBoundMs));
        EXPECT_LE(ctl.exit, policy < 0 ? 6u : 7u) << "pelloranctl " << command << ": an exit code from its list, within the bounds";
        ExpectPromisesKept(ctlRun.Log(), ctlRun.Log().size(), false, missingPath, policy);
    }

    bool m_adapterStored = false, m_adapterChecked = false;
    HWND m_first = nullptr;  // the first window the tool shows: the dialog or a fatal message
};

TEST_F(ScheduleRun, RandomSchedules) {
    unsigned count = 0, seed = 0, failed = 0;  // PELLORAN_FUZZ="N SEED", from scripts/fuzz or the suite's smoke run
    ASSERT_EQ(std::sscanf(std::getenv("PELLORAN_FUZZ") ? std::getenv("PELLORAN_FUZZ") : "", "%u %u", &count, &seed), 2);
    for (unsigned i = 0; i < count; ++i) {
        const int errorsBefore = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
        RunSchedule(seed + i);
        TearDown();
        failed += ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() != errorsBefore;
    }
    std::printf("%u passed, %u failed\n", count - failed, failed);
}

}  // namespace
}  // namespace e2e
