// Random schedules against the real Pelloran.exe under the firmware simulator: faults and answers of
// every firmware call, the stored mode, a damaged language file and a user's clicks and keys, driven
// from outside through the driver's actions. Every schedule must keep the program's promises.
//   pelloran_fuzz N SEED      runs N schedules, schedule i with the seed SEED + i
// A failing schedule prints its seed and keeps its folder (scenario, language file, call log, and
// schedule.txt with the rest); `pelloran_fuzz 1 <seed>` runs it again. The last line reads
// "<passed> passed, <failed> failed"; the exit code is 1 when one failed.
#include "tests/support/TestSupport.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace testsupport;

// The program's bound on one firmware step, and what a check here allows: several times that.
constexpr DWORD kBoundMs = 3000;
constexpr DWORD kAllowMs = 4 * kBoundMs;
// From the start until the dialog or a message shows: the start of a Wine process, then at most the
// firmware's share of the start (the bound).
constexpr DWORD kAppearMs = kAllowMs;

constexpr wchar_t kModeKey[] = L"Software\\Tolvek\\Quenby";
constexpr wchar_t kModeParent[] = L"Software\\Tolvek";
constexpr wchar_t kModeValue[] = L"PelloranMode";
const std::wstring kFatalTexts[] = {L"Can't get WMI TolvekManagement object", L"Can't get WMI Pelloran status"};

enum Control : int { kEnable = 1002, kDisable = 1003, kAdapter = 1004, kAdapterBattery = 1005 };

enum class Action { Enable, Disable, Adapter, AdapterBattery, About, Escape, Enter, Close };
const wchar_t* const kActionNames[] = {L"Enable", L"Disable", L"Adapter", L"AdapterBattery",
                                       L"About",  L"Escape",  L"Enter",   L"Close"};

// The stored mode before the start: its registry type and bytes, or none, or a key that cannot open.
struct StoredMode {
    enum Kind { Missing, Value, KeyUnopenable } kind = Missing;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Schedule {
    unsigned seed = 0;
    std::vector<std::wstring> scenario;  // lines of the simulator's [Scenario]
    DWORD firmwareState = 0x10000;
    StoredMode mode;
    std::wstring language;               // what was done to the language file
    std::string languageBytes;           // its bytes; empty with `missing`
    std::vector<Action> actions;
};

// ---- Making a schedule ---------------------------------------------------------------------------

class Random {
public:
    explicit Random(unsigned seed) : m_engine(seed) {}
    unsigned Below(unsigned n) { return n == 0 ? 0 : static_cast<unsigned>(m_engine() % n); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    template <class T, size_t N>
    const T& Of(const T (&items)[N]) { return items[Below(N)]; }

private:
    std::mt19937 m_engine;
};

const wchar_t* const kSuccessCodes[] = {L"S_OK", L"WBEM_S_FALSE"};
const wchar_t* const kTransientCodes[] = {L"WBEM_E_FAILED",          L"WBEM_E_TIMED_OUT",
                                          L"WBEM_E_SERVER_TOO_BUSY", L"WBEM_E_CALL_CANCELLED",
                                          L"WBEM_E_SHUTTING_DOWN",   L"WBEM_E_TRANSPORT_FAILURE",
                                          L"RPC_E_DISCONNECTED",     L"RPC_S_SERVER_UNAVAILABLE"};
const wchar_t* const kFinalCodes[] = {L"WBEM_E_INVALID_METHOD", L"WBEM_E_INVALID_PARAMETER", L"WBEM_E_NOT_FOUND",
                                      L"WBEM_E_ACCESS_DENIED",  L"E_ACCESSDENIED",           L"WBEM_E_TYPE_MISMATCH",
                                      L"WBEM_E_INVALID_CLASS",  L"WBEM_E_NOT_SUPPORTED",     L"E_FAIL"};

std::wstring AnyCode(Random& random) {
    switch (random.Below(3)) {
    case 0: return random.Of(kSuccessCodes);
    case 1: return random.Of(kTransientCodes);
    default: return random.Of(kFinalCodes);
    }
}

// A delay: mostly none or short, sometimes long but in time, sometimes past the bound.
std::wstring AnyDelay(Random& random) {
    const unsigned roll = random.Below(100);
    if (roll < 55) return L"";
    if (roll < 80) return L"@" + std::to_wstring(1 + random.Below(300));
    if (roll < 92) return L"@" + std::to_wstring(300 + random.Below(1200));
    return L"@" + std::to_wstring(kBoundMs + 1000 + random.Below(3000));
}

// The answers of successive calls of one kind: codes, delays and stalls.
std::wstring AnyAnswers(Random& random) {
    std::wstring answers;
    const unsigned count = 1 + random.Below(4);
    for (unsigned i = 0; i < count; ++i) {
        if (!answers.empty()) answers += L", ";
        if (random.Chance(8)) {
            answers += L"never";
            continue;
        }
        const std::wstring answer = (random.Chance(50) ? AnyCode(random) : L"") + AnyDelay(random);
        answers += answer.empty() ? L"@0" : answer;
    }
    if (random.Chance(15) && answers.find(L"never") == std::wstring::npos) answers += L"*";
    return answers;
}

std::string WideBytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// The shipped language file, damaged (or not) at random.
void AnyLanguageFile(Random& random, const std::string& shipped, Schedule& schedule) {
    std::string& bytes = schedule.languageBytes;
    const std::wstring text(reinterpret_cast<const wchar_t*>(shipped.data() + 2), (shipped.size() - 2) / 2);
    switch (random.Below(8)) {
    case 0:
    case 1:
    case 2:
        schedule.language = L"intact";
        bytes = shipped;
        break;
    case 3:
        schedule.language = L"missing";
        break;
    case 4: {
        const size_t cut = random.Below(static_cast<unsigned>(shipped.size()));
        schedule.language = L"truncated at byte " + std::to_wstring(cut);
        bytes = shipped.substr(0, cut);
        break;
    }
    case 5: {
        const unsigned size = 1 + random.Below(8192);
        schedule.language = L"binary garbage of " + std::to_wstring(size) + L" bytes";
        if (random.Chance(50)) bytes = "\xFF\xFE";
        while (bytes.size() < size) bytes += static_cast<char>(random.Below(256));
        break;
    }
    case 6: {
        // A huge line in the English section, where the dialog reads its texts.
        const unsigned length = 1000 + random.Below(300000);
        const std::wstring key = L"S" + std::to_wstring(random.Below(13));
        const size_t at = text.find(L"[1]\r\n");
        std::wstring huge = key + L"=" + std::wstring(length, static_cast<wchar_t>(L'A' + random.Below(26))) + L"\r\n";
        std::wstring changed = text;
        changed.insert(at == std::wstring::npos ? 0 : at + 5, huge);
        schedule.language = L"a line of " + std::to_wstring(length) + L" characters as " + key;
        bytes = "\xFF\xFE" + WideBytes(changed);
        break;
    }
    default: {
        const unsigned kind = random.Below(3);
        if (kind == 0) {
            schedule.language = L"UTF-8 without a byte-order mark";
            const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                                nullptr, nullptr);
            bytes.assign(static_cast<size_t>(n), '\0');
            ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr,
                                  nullptr);
        } else if (kind == 1) {
            schedule.language = L"UTF-16 big-endian";
            bytes = shipped;
            for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
        } else {
            schedule.language = L"UTF-16 without a byte-order mark";
            bytes = shipped.substr(2);
        }
        break;
    }
    }
}

Schedule MakeSchedule(unsigned seed, const std::string& shippedLanguage) {
    Random random(seed);
    Schedule s;
    s.seed = seed;
    auto& lines = s.scenario;

    const DWORD states[] = {0x10000, 0x10001, 0x10003, 0x10002, 0x100FF, 0x1, 0xFFFFFF03, 0x0};
    s.firmwareState = random.Of(states);
    const unsigned instances[] = {1, 1, 1, 1, 0, 2, 3};
    lines.push_back(L"Instances=" + std::to_wstring(random.Of(instances)));
    if (random.Chance(8)) lines.push_back(L"MissingPath=1");
    if (random.Chance(6)) lines.push_back(L"ConnectHr=" + AnyCode(random));
    if (random.Chance(6)) lines.push_back(L"ExecQueryHr=" + AnyCode(random));
    if (random.Chance(25)) lines.push_back(L"ResetRewinds=1");
    for (const wchar_t* key : {L"GetObjectHr", L"GetMethodHr", L"SpawnInstanceHr"})
        if (random.Chance(4)) lines.push_back(std::wstring(key) + L"=" + AnyCode(random));
    if (random.Chance(20)) {
        lines.push_back(L"ExecMethodFailures=" + std::to_wstring(static_cast<int>(random.Below(9)) - 1));
        lines.push_back(L"ExecMethodFailHr=" + AnyCode(random));
        if (random.Chance(60)) lines.push_back(random.Chance(50) ? L"ExecMethodFailOnly=device_status"
                                                                 : L"ExecMethodFailOnly=device_ctrl");
        if (random.Chance(50)) lines.push_back(L"ExecMethodFailuresPerCall=1");
    }
    if (random.Chance(35)) {
        // The status in another type or with another value: negative narrow integers, wide values.
        const wchar_t* const types[] = {L"I4", L"UI4", L"INT", L"UINT", L"I2",   L"UI2",  L"I1",   L"UI1",
                                        L"I8", L"UI8", L"R8",  L"BOOL", L"BSTR", L"NULL", L"EMPTY", L"MISSING"};
        const wchar_t* const words[] = {L"0x10001", L"0x10003", L"0xFFFF", L"0xFFFD", L"0xFF", L"0x80",
                                        L"0xFFFFFFFFFFFFFFFF", L"0x100010001", L"0xFFFF0003", L"0x10000"};
        lines.push_back(std::wstring(L"StatusType=") + random.Of(types));
        lines.push_back(std::wstring(L"StatusWord=") + random.Of(words));
    }
    if (random.Chance(15)) lines.push_back(L"LatencyMs=" + std::to_wstring(1 + random.Below(150)));
    for (const wchar_t* kind : {L"ExecQuery", L"Next", L"GetObject", L"device_status", L"device_ctrl"})
        if (random.Chance(25)) lines.push_back(std::wstring(L"Answers.") + kind + L"=" + AnyAnswers(random));
    if (random.Chance(5))  // a slow or refusing WMI itself: never a stall, which nothing can bound
        lines.push_back(L"Answers.ConnectServer=" +
                        (random.Chance(50) ? AnyCode(random) : L"@" + std::to_wstring(random.Below(800))));

    switch (random.Below(6)) {
    case 0: s.mode.kind = StoredMode::Missing; break;
    case 1: s.mode.kind = StoredMode::KeyUnopenable; break;
    case 2: {
        s.mode.kind = StoredMode::Value;
        s.mode.type = REG_SZ;
        const std::wstring text = random.Chance(50) ? L"1" : L"Adapter";
        const std::string bytes = WideBytes(text + L'\0');
        s.mode.data.assign(bytes.begin(), bytes.end());
        break;
    }
    case 3: {
        s.mode.kind = StoredMode::Value;
        s.mode.type = REG_BINARY;
        for (unsigned n = random.Below(9); n > 0; --n) s.mode.data.push_back(static_cast<BYTE>(random.Below(4)));
        break;
    }
    default: {
        s.mode.kind = StoredMode::Value;
        s.mode.type = REG_DWORD;
        const DWORD value = random.Below(6);
        s.mode.data.assign(reinterpret_cast<const BYTE*>(&value), reinterpret_cast<const BYTE*>(&value) + 4);
        break;
    }
    }

    AnyLanguageFile(random, shippedLanguage, s);

    for (unsigned n = random.Below(7); n > 0; --n) {
        // Mostly the switch and the modes; the ways out of the dialog less often.
        const Action common[] = {Action::Enable, Action::Disable, Action::Adapter, Action::AdapterBattery,
                                 Action::Enable, Action::Disable, Action::About};
        const Action rare[] = {Action::Escape, Action::Enter, Action::Close};
        s.actions.push_back(random.Chance(85) ? random.Of(common) : random.Of(rare));
    }
    return s;
}

std::wstring Describe(const Schedule& s) {
    std::wstring text = L"seed " + std::to_wstring(s.seed) + L"\r\n[Scenario]\r\n";
    for (const std::wstring& line : s.scenario) text += line + L"\r\n";
    wchar_t state[32];
    std::swprintf(state, 32, L"0x%lX", s.firmwareState);
    text += L"firmware state: " + std::wstring(state) + L"\r\nstored mode: ";
    if (s.mode.kind == StoredMode::Missing) text += L"missing";
    if (s.mode.kind == StoredMode::KeyUnopenable) text += L"key cannot be opened";
    if (s.mode.kind == StoredMode::Value) {
        text += L"type " + std::to_wstring(s.mode.type) + L", bytes";
        for (BYTE b : s.mode.data) text += L" " + std::to_wstring(b);
    }
    text += L"\r\nlanguage file: " + s.language + L"\r\nactions:";
    for (Action a : s.actions) text += std::wstring(L" ") + kActionNames[static_cast<int>(a)];
    return text + L"\r\n";
}

// ---- Files and the registry ----------------------------------------------------------------------

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                ::DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

void PrepareStoredMode(const StoredMode& mode) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kModeParent);
    HKEY key = nullptr;
    if (mode.kind == StoredMode::KeyUnopenable) {
        // A volatile parent: the tool's non-volatile key cannot be created below it.
        ::RegCreateKeyExW(HKEY_CURRENT_USER, kModeParent, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr);
    } else if (mode.kind == StoredMode::Value &&
               ::RegCreateKeyExW(HKEY_CURRENT_USER, kModeKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                 nullptr) == ERROR_SUCCESS) {
        ::RegSetValueExW(key, kModeValue, 0, mode.type, mode.data.data(), static_cast<DWORD>(mode.data.size()));
    }
    if (key != nullptr) ::RegCloseKey(key);
}

// The stored mode now, in the same terms.
StoredMode ReadStoredMode() {
    StoredMode mode;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kModeKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return mode;
    BYTE data[64];
    DWORD size = sizeof(data);
    if (::RegQueryValueExW(key, kModeValue, nullptr, &mode.type, data, &size) == ERROR_SUCCESS) {
        mode.kind = StoredMode::Value;
        mode.data.assign(data, data + size);
    }
    ::RegCloseKey(key);
    return mode;
}

// ---- The simulator's log -------------------------------------------------------------------------

struct LogLine {
    std::wstring event;
    std::map<std::wstring, std::wstring> fields;
    std::wstring operator[](const wchar_t* key) const {
        const auto found = fields.find(key);
        return found != fields.end() ? found->second : L"";
    }
};

std::vector<LogLine> ReadLog(const std::wstring& path) {
    const std::string bytes = ReadFileBytes(path);
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                          &text[0], static_cast<int>(text.size()))));
    std::vector<LogLine> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        LogLine line;
        for (size_t from = start; from < end;) {
            size_t tab = text.find(L'\t', from);
            if (tab == std::wstring::npos || tab > end) tab = end;
            const std::wstring field = text.substr(from, tab - from);
            const size_t eq = field.find(L'=');
            if (eq == std::wstring::npos)
                line.event = field;
            else
                line.fields[field.substr(0, eq)] = field.substr(eq + 1);
            from = tab + 1;
        }
        if (!line.event.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// What the log must show: no wait for an answer longer than the bound, the firmware called only once it
// was found, only control values 0, 1 and 3, and no simulated object left behind (after a fatal start:
// none but what the client holds).
std::wstring CheckLog(const std::vector<LogLine>& log, bool fatalStart) {
    bool found = false;
    bool detached = false;
    for (const LogLine& line : log) {
        if ((line.event == L"Next" || line.event == L"GetResultObject" || line.event == L"GetCallStatus") &&
            (line[L"timeout"].empty() || std::wcstol(line[L"timeout"].c_str(), nullptr, 10) < 0 ||
             std::wcstol(line[L"timeout"].c_str(), nullptr, 10) > static_cast<long>(kBoundMs)))
            return line.event + L" waited up to " + line[L"timeout"] + L" ms for an answer";
        if (line.event == L"Next" && line[L"returned"] != L"" && line[L"returned"] != L"0") found = true;
        if (line.event == L"ExecMethod" && !found) return L"a firmware method was called before the firmware was found";
        if (line.event == L"ExecMethod" && line[L"method"] == L"device_ctrl" && fatalStart)
            return L"device_ctrl was sent although the start failed";
        if (line.event == L"Put" && line[L"name"] == L"ctrl_param" &&
            (line[L"vt"] != L"3" || (line[L"value"] != L"0" && line[L"value"] != L"1" && line[L"value"] != L"3")))
            return L"device_ctrl was sent " + line[L"value"] + L" (vt " + line[L"vt"] + L")";
        if (line.event != L"Detach") continue;
        detached = true;
        if (!fatalStart && line[L"live"] != L"0") return L"simulated objects left alive at exit: " + line[L"kinds"];
        if (fatalStart) {
            // Ended at once after the message: only the client's own objects, one of each at most.
            std::wstring kinds = line[L"kinds"] == L"<none>" ? L"" : line[L"kinds"] + L",";
            for (const wchar_t* kind : {L"Locator,", L"Services,", L"InParams,", L"OutParams,"}) {
                const size_t at = kinds.find(kind);
                if (at != std::wstring::npos) kinds.erase(at, std::wcslen(kind));
            }
            if (!kinds.empty()) return L"simulated objects left alive at exit: " + line[L"kinds"];
        }
    }
    return detached || log.empty() ? L"" : L"the simulator never saw the process end";
}

// ---- Running a schedule --------------------------------------------------------------------------

// A window's text, waiting for its thread as long as a check allows.
std::wstring TextWithin(HWND hwnd) {
    wchar_t text[1024];
    DWORD_PTR length = 0;
    if (hwnd == nullptr ||
        !::SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, kAllowMs, &length))
        return L"<no answer>";
    return std::wstring(text, length < 1024 ? length : 1023);
}

// The visible windows of the process other than the dialog (and the about box while it is open).
std::wstring StrayWindows(DWORD pid, HWND dialog) {
    std::wstring stray;
    for (HWND hwnd : VisibleWindowsOf(pid))
        if (hwnd != dialog) stray += L"[" + TextWithin(hwnd) + L": " + TextWithin(::GetDlgItem(hwnd, 0xFFFF)) + L"] ";
    return stray;
}

std::wstring Run(const Schedule& s, const std::wstring& folder, const std::wstring& shippedExe) {
    const std::wstring exe = folder + L"\\Pelloran.exe";
    if (!::CopyFileW(shippedExe.c_str(), exe.c_str(), FALSE)) return L"cannot copy the tool";
    if (!s.language.empty() && s.language != L"missing") WriteBytes(folder + L"\\PelloranLang.ini", s.languageBytes);
    std::string scenario = "[Scenario]\r\n";
    for (const std::wstring& line : s.scenario) scenario += std::string(line.begin(), line.end()) + "\r\n";
    WriteBytes(folder + L"\\scenario.ini", scenario);
    char state[64];
    std::snprintf(state, sizeof(state), "[Firmware]\r\nStatusWord=0x%lX\r\n", s.firmwareState);
    WriteBytes(folder + L"\\state.ini", state);
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", (folder + L"\\scenario.ini").c_str());
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_STATE", (folder + L"\\state.ini").c_str());
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_LOG", (folder + L"\\sim.log").c_str());
    PrepareStoredMode(s.mode);
    const StoredMode before = ReadStoredMode();

    ToolProcess tool(exe);
    if (!tool.started()) return L"the tool did not start";
    const DWORD pid = tool.pid();

    // The first window: the dialog, or one of the two fatal messages.
    HWND dialog = nullptr;
    HWND box = nullptr;
    const DWORD start = ::GetTickCount();
    while (dialog == nullptr && box == nullptr && tool.running() && ::GetTickCount() - start < kAppearMs) {
        dialog = WaitForSettingsDialog(pid, 1);
        if (dialog == nullptr) box = WaitForMessageBox(pid, 1);
    }
    if (dialog == nullptr && box == nullptr)
        return tool.running() ? L"neither the dialog nor a message showed within the bound"
                              : L"the tool ended without a window, exit code " + std::to_wstring(tool.WaitForExit(0));

    bool fatal = false;
    if (box != nullptr) {
        fatal = true;
        const std::wstring text = TextWithin(::GetDlgItem(box, 0xFFFF));
        if (text != kFatalTexts[0] && text != kFatalTexts[1]) return L"an unexpected message: " + text;
        if (TextWithin(box) != L"Pelloran") return L"a message with the caption " + TextWithin(box);
        if (!ClickWithin(box, IDOK, kAllowMs)) return L"the message did not take its OK";
    } else {
        bool closing = false;
        for (Action action : s.actions) {
            if (!::IsWindow(dialog)) break;
            if (!Ping(dialog, kAllowMs)) return L"the dialog did not answer within the bound";
            const wchar_t* name = kActionNames[static_cast<int>(action)];
            int control = 0;
            switch (action) {
            case Action::Enable: control = kEnable; break;
            case Action::Disable: control = kDisable; break;
            case Action::Adapter: control = kAdapter; break;
            case Action::AdapterBattery: control = kAdapterBattery; break;
            case Action::About: {
                HWND about = OpenAbout(dialog, kAllowMs);
                if (about == nullptr) return L"the about box did not open";
                if (!ClickWithin(about, IDOK, kAllowMs)) return L"the about box did not close";
                break;
            }
            case Action::Escape:
            case Action::Enter:
                if (!PressKey(dialog, action == Action::Escape ? VK_ESCAPE : VK_RETURN, kAllowMs))
                    return std::wstring(name) + L" was not handled within the bound";
                break;
            case Action::Close:
                ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
                closing = true;
                break;
            }
            // A user clicks only what is enabled.
            if (control != 0 && StateOf(dialog, control).enabled && !ClickWithin(dialog, control, kAllowMs))
                return std::wstring(L"a click on ") + name + L" was not handled within the bound";
            if (action == Action::Close) break;
            for (DWORD waited = 0; waited < 500 && ::IsWindow(dialog); waited += 10) {
                const std::wstring stray = StrayWindows(pid, dialog);
                if (stray.empty()) break;
                if (waited + 10 >= 500) return std::wstring(L"after ") + name + L", another window: " + stray;
                ::Sleep(10);  // the about box going
            }
        }
        if (!closing && ::IsWindow(dialog)) {
            if (!Ping(dialog, kAllowMs)) return L"the dialog did not answer within the bound";
            ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
    }

    const DWORD exitCode = tool.WaitForExit(kAllowMs);
    if (exitCode == STILL_ACTIVE) return L"the process did not end within the bound after the close";
    if (exitCode != 0) {
        wchar_t code[16];
        std::swprintf(code, 16, L"0x%lX", exitCode);
        return std::wstring(L"the process ended with exit code ") + code;
    }

    const StoredMode after = ReadStoredMode();
    if (fatal || s.mode.kind == StoredMode::KeyUnopenable) {
        if (after.kind != before.kind || after.type != before.type || after.data != before.data)
            return L"the stored mode changed although it could not be, or the start failed";
    } else if (after.kind != StoredMode::Value || after.type != REG_DWORD || after.data.size() != 4 ||
               (after.data[0] > 1 || after.data[1] != 0 || after.data[2] != 0 || after.data[3] != 0)) {
        return L"the stored mode is not a REG_DWORD 0 or 1";
    }
    return CheckLog(ReadLog(folder + L"\\sim.log"), fatal);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pelloran_fuzz N SEED\n");
        return 2;
    }
    const unsigned count = static_cast<unsigned>(std::wcstoul(argv[1], nullptr, 10));
    const unsigned seed = static_cast<unsigned>(std::wcstoul(argv[2], nullptr, 10));
    const std::wstring exe = ToolPath();
    const std::string shippedLanguage = ReadFileBytes(exe.substr(0, exe.find_last_of(L'\\')) + L"\\PelloranLang.ini");
    if (shippedLanguage.size() < 2) {
        std::fprintf(stderr, "no language file beside %ls\n", exe.c_str());
        return 2;
    }
    const std::wstring root = WinPath(PELLORAN_BINARY_DIR "/fuzz");
    ::CreateDirectoryW(root.c_str(), nullptr);
    // A crash must end the process, not wait in Wine's crash dialog.
    HKEY debugger = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\WineDbg", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &debugger, nullptr) == ERROR_SUCCESS) {
        const DWORD no = 0;
        ::RegSetValueExW(debugger, L"ShowCrashDialog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&no), sizeof(no));
        ::RegCloseKey(debugger);
    }

    unsigned passed = 0, failed = 0;
    for (unsigned i = 0; i < count; ++i) {
        const Schedule schedule = MakeSchedule(seed + i, shippedLanguage);
        const std::wstring folder = root + L"\\" + std::to_wstring(schedule.seed);
        RemoveFolder(folder);
        ::CreateDirectoryW(folder.c_str(), nullptr);
        WriteBytes(folder + L"\\schedule.txt", WideBytes(L"\xFEFF" + Describe(schedule)));
        const std::wstring failure = Run(schedule, folder, exe);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kModeParent);
        if (failure.empty()) {
            ++passed;
            RemoveFolder(folder);
        } else {
            ++failed;
            std::printf("FAILED seed %u: %ls (kept %ls)\n", schedule.seed, failure.c_str(), folder.c_str());
        }
        std::fflush(stdout);
    }
    std::printf("%u passed, %u failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
