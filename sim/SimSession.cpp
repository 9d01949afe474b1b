// The scenario file, the persisted feature state and the call log of the simulated firmware.
#include "sim/SimSession.h"

#include "sim/MonotonicClock.h"
#include "sim/VirtualClock.h"
#include "sim/SimCodes.h"
#include "sim/SimModule.h"

#include <objbase.h>
#include <wbemidl.h>

#include <cwchar>
#include <cwctype>

namespace {

// The log's time: the test's virtual clock when it has one, else the monotonic clock that other processes read too.
long long SimLogTimeMs() {
    ClockSource* clock = SimVirtualClock();
    return clock != nullptr ? static_cast<long long>(clock->NowMs()) : NowMs();
}

}  // namespace

namespace {

constexpr wchar_t kScenarioSection[] = L"Scenario";
constexpr wchar_t kStateSection[] = L"Firmware";
constexpr wchar_t kStateKey[] = L"StatusWord";
constexpr wchar_t kMemoryOnly[] = L"none";
constexpr wchar_t kEveryCall[] = L"*";  // the script that every call reaching the firmware also takes

// Guards the log files and the module's log path between threads of one process.
CRITICAL_SECTION g_logLock;
// The log of the latest session, for the module's own lines (a plain array: it outlives static destructors).
wchar_t g_moduleLogPath[MAX_PATH * 2];

// The value of an environment variable, empty when it is not set.
std::wstring EnvironmentText(const wchar_t* name) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(buffer, length) : std::wstring();
}

// A key of the scenario file as text; fallback when the key (or the file) is missing.
std::wstring ScenarioText(const std::wstring& file, const wchar_t* key, const wchar_t* fallback) {
    if (file.empty()) return fallback;
    wchar_t buffer[MAX_PATH * 2];
    // GetPrivateProfileString cannot tell an empty value from a missing one: this marker can.
    constexpr wchar_t kMissing[] = L"\x01";
    ::GetPrivateProfileStringW(kScenarioSection, key, kMissing, buffer, MAX_PATH * 2, file.c_str());
    return std::wcscmp(buffer, kMissing) == 0 ? std::wstring(fallback) : std::wstring(buffer);
}

// A number written in decimal or with 0x in hexadecimal; fallback when the text is no number.
long long ParseNumber(const std::wstring& text, long long fallback) {
    if (text.empty()) return fallback;
    wchar_t* end = nullptr;
    const long long value = std::wcstoll(text.c_str(), &end, 0);
    while (end != nullptr && std::iswspace(*end)) ++end;
    return end != nullptr && *end == L'\0' ? value : fallback;
}

// An HRESULT written as a number or as one of the named codes.
HRESULT CodeFromText(const std::wstring& text) {
    for (const SimNamedCode& named : kSimNamedCodes)
        if (_wcsicmp(text.c_str(), named.name) == 0) return static_cast<HRESULT>(named.code);
    return static_cast<HRESULT>(static_cast<unsigned long>(ParseNumber(text, 0)));
}

// The answers of one Answers.<kind> key: "answer, answer, ...", each "never" or "[code][@ms]", the last
// one followed by "*" when it repeats. A code alone answers at once; "@ms" alone is the normal answer, late.
SimScript ParseScript(const std::wstring& text) {
    SimScript script;
    size_t from = 0;
    while (from < text.size()) {
        size_t comma = text.find(L',', from);
        if (comma == std::wstring::npos) comma = text.size();
        std::wstring item = SimTrim(text.substr(from, comma - from));
        from = comma + 1;
        if (item.empty()) continue;
        script.repeatLast = item.back() == L'*';
        if (script.repeatLast) item.pop_back();
        SimAnswer answer;
        if (_wcsicmp(item.c_str(), L"never") == 0) {
            answer.never = true;
        } else {
            const size_t at = item.find(L'@');
            const std::wstring code = item.substr(0, at);
            if (at != std::wstring::npos) answer.delayMs = static_cast<DWORD>(ParseNumber(item.substr(at + 1), 0));
            answer.hasCode = !code.empty();
            if (answer.hasCode) answer.hr = CodeFromText(code);
        }
        script.answers.push_back(answer);
    }
    return script;
}

// The kind's name as the scripts are kept: lower case.
std::wstring KindKey(const wchar_t* kind) {
    std::wstring key(kind != nullptr ? kind : L"");
    for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
    return key;
}

// The next answer of a script (the normal one when there is none left).
SimAnswer TakeAnswer(SimScript& script) {
    if (script.next < script.answers.size()) return script.answers[script.next++];
    return script.repeatLast && !script.answers.empty() ? script.answers.back() : SimAnswer();
}

// A numeric key.
long long ScenarioNumber(const std::wstring& file, const wchar_t* key, long long fallback) {
    return ParseNumber(ScenarioText(file, key, L""), fallback);
}

// The VARIANT types a scenario may ask ctrl_param to come back in.
struct NamedType {
    const wchar_t* name;
    VARTYPE type;
};
constexpr NamedType kNamedTypes[] = {
    {L"I4", VT_I4},   {L"UI4", VT_UI4}, {L"INT", VT_INT}, {L"UINT", VT_UINT}, {L"I2", VT_I2},
    {L"UI2", VT_UI2}, {L"I1", VT_I1},   {L"UI1", VT_UI1}, {L"I8", VT_I8},     {L"UI8", VT_UI8},
    {L"R4", VT_R4},   {L"R8", VT_R8},   {L"BOOL", VT_BOOL}, {L"BSTR", VT_BSTR}, {L"NULL", VT_NULL},
    {L"EMPTY", VT_EMPTY},
};

// The folder of PelloranSim.dll, with a trailing backslash.
std::wstring ModuleFolder() {
    wchar_t path[MAX_PATH * 2];
    const DWORD length = ::GetModuleFileNameW(g_simModule, path, MAX_PATH * 2);
    std::wstring folder(path, length < MAX_PATH * 2 ? length : 0);
    const size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

// Appends a UTF-8 line to a log file; opened and closed each time so that other processes see it at once.
void AppendToFile(const wchar_t* path, const std::wstring& line) {
    if (path == nullptr || path[0] == L'\0') return;
    const std::wstring withEnd = line + L"\n";
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, withEnd.c_str(), static_cast<int>(withEnd.size()),
                                            nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, withEnd.c_str(), static_cast<int>(withEnd.size()), &utf8[0], bytes,
                          nullptr, nullptr);
    ::EnterCriticalSection(&g_logLock);
    const HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr,  // default security
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr);  // no template
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr /* not overlapped */);
        ::CloseHandle(file);
    }
    ::LeaveCriticalSection(&g_logLock);
}

// A field's text with the characters that would break the line format (tab, line ends) made blanks.
std::wstring FieldText(const wchar_t* text) {
    std::wstring clean(text);
    for (wchar_t& c : clean)
        if (c == L'\t' || c == L'\r' || c == L'\n') c = L' ';
    return clean;
}

}  // namespace

std::wstring SimTrim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    const size_t last = text.find_last_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

const wchar_t* SimApartmentName() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(::CoGetApartmentType(&type, &qualifier))) return L"none";
    return type == APTTYPE_STA || type == APTTYPE_MAINSTA ? L"sta" : L"mta";
}

void SimLogInit() { ::InitializeCriticalSection(&g_logLock); }

std::shared_ptr<SimSession> SimSession::Open() {
    SimScenario s;
    s.scenarioPath = EnvironmentText(L"PELLORAN_SIM_SCENARIO");
    const std::wstring& file = s.scenarioPath;

    s.logPath = ScenarioText(file, L"Log", EnvironmentText(L"PELLORAN_SIM_LOG").c_str());
    std::wstring state = EnvironmentText(L"PELLORAN_SIM_STATE");
    if (state.empty()) state = ModuleFolder() + L"PelloranSim.state";
    s.statePath = ScenarioText(file, L"State", state.c_str());
    if (_wcsicmp(s.statePath.c_str(), kMemoryOnly) == 0) s.statePath.clear();

    s.initialStatus = static_cast<DWORD>(ScenarioNumber(file, L"InitialStatus", s.initialStatus));
    s.instances = static_cast<int>(ScenarioNumber(file, L"Instances", 1));
    if (s.instances < 0) s.instances = 0;
    s.missingPath = ScenarioNumber(file, L"MissingPath", 0) != 0;
    s.resetRewinds = ScenarioNumber(file, L"ResetRewinds", 0) != 0;
    const std::wstring word = ScenarioText(file, L"StatusWord", L"");
    s.fixedStatus = !word.empty();
    s.statusWord = std::wcstoull(word.c_str(), nullptr, 0);
    const std::wstring type = ScenarioText(file, L"StatusType", L"I4");
    s.statusMissing = _wcsicmp(type.c_str(), L"MISSING") == 0;
    for (const NamedType& named : kNamedTypes)
        if (_wcsicmp(type.c_str(), named.name) == 0) s.statusType = named.type;
    // A notebook just after log-on, with WMI and the firmware's provider starting cold: the connection answers
    // after 4 s, the query's first instance after 5 s, the status after 3 s, unless a script of the kind says
    // otherwise.
    const bool slowLogOn = ScenarioNumber(file, L"SlowLogOn", 0) != 0;
    constexpr struct {
        const wchar_t* kind;
        const wchar_t* script;
    } kSlowLogOn[] = {{L"ConnectServer", L"@4000"}, {L"Next", L"@5000"}, {L"device_status", L"@3000"}};
    for (const SimCallKind& kind : kSimCallKinds) {
        std::wstring text = ScenarioText(file, (std::wstring(L"Answers.") + kind.name).c_str(), L"");
        for (const auto& slow : kSlowLogOn)
            if (slowLogOn && text.empty() && std::wcscmp(slow.kind, kind.name) == 0) text = slow.script;
        if (!text.empty()) s.scripts[KindKey(kind.name)] = ParseScript(text);
    }
    const std::wstring every = ScenarioText(file, L"Answers.*", L"");
    if (!every.empty()) s.scripts[kEveryCall] = ParseScript(every);
    s.probeDll = ScenarioText(file, L"ProbeDll", L"");

    auto session = std::make_shared<SimSession>(std::move(s));
    if (!session->m_scenario.logPath.empty()) {
        ::EnterCriticalSection(&g_logLock);
        lstrcpynW(g_moduleLogPath, session->m_scenario.logPath.c_str(), MAX_PATH * 2);
        ::LeaveCriticalSection(&g_logLock);
    }
    return session;
}

SimSession::SimSession(SimScenario scenario)
    : m_scenario(std::move(scenario)), m_memoryState(m_scenario.initialStatus) {
    ::InitializeCriticalSection(&m_lock);
}

SimSession::~SimSession() { ::DeleteCriticalSection(&m_lock); }

SimAnswer SimSession::NextAnswer(const wchar_t* kind) {
    ::EnterCriticalSection(&m_lock);
    const std::wstring key = KindKey(kind);
    const auto own = m_scenario.scripts.find(key);
    SimAnswer answer = own != m_scenario.scripts.end() ? TakeAnswer(own->second) : SimAnswer();
    bool reachesFirmware = false;
    for (const SimCallKind& known : kSimCallKinds)
        if (key == KindKey(known.name)) reachesFirmware = known.reachesFirmware;
    const auto every = m_scenario.scripts.find(kEveryCall);
    if (reachesFirmware && every != m_scenario.scripts.end()) {
        // A cold or slow firmware delays the call on top of what its own script says.
        const SimAnswer extra = TakeAnswer(every->second);
        answer.never = answer.never || extra.never;
        answer.delayMs += extra.delayMs;
        if (!answer.hasCode && extra.hasCode) answer.hasCode = true, answer.hr = extra.hr;
    }
    ::LeaveCriticalSection(&m_lock);
    return answer;
}

DWORD SimSession::ReadState() const {
    if (m_scenario.statePath.empty()) return m_memoryState;
    wchar_t text[64];
    ::GetPrivateProfileStringW(kStateSection, kStateKey, L"", text, 64, m_scenario.statePath.c_str());
    return static_cast<DWORD>(ParseNumber(text, m_scenario.initialStatus));
}

void SimSession::WriteState(DWORD statusWord) {
    m_memoryState = statusWord;
    if (m_scenario.statePath.empty()) return;
    wchar_t text[16];
    _snwprintf(text, 15, L"0x%lX", statusWord);
    text[15] = L'\0';
    ::WritePrivateProfileStringW(kStateSection, kStateKey, text, m_scenario.statePath.c_str());
}

SimLogLine::SimLogLine(const SimSession& session, const wchar_t* event)
    : SimLogLine(session.scenario().logPath.c_str(), event) {}

SimLogLine::SimLogLine(const wchar_t* logPath, const wchar_t* event) : m_path(logPath) {
    if (m_path[0] == L'\0') return;  // nothing is formatted for a session without a log
    m_line = L"t=" + std::to_wstring(SimLogTimeMs()) + L"\tpid=" + std::to_wstring(::GetCurrentProcessId()) + L"\t" +
             event;
}

SimLogLine& SimLogLine::Text(const wchar_t* key, const wchar_t* value) {
    if (!m_line.empty()) m_line += std::wstring(L"\t") + key + L"=" + (value != nullptr ? FieldText(value) : L"<null>");
    return *this;
}

SimLogLine& SimLogLine::Int(const wchar_t* key, long long value) {
    return Text(key, std::to_wstring(value).c_str());
}

SimLogLine& SimLogLine::Hex(const wchar_t* key, unsigned long value) {
    wchar_t text[16];
    _snwprintf(text, 15, L"0x%lx", value);
    text[15] = L'\0';
    return Text(key, text);
}

SimLogLine& SimLogLine::Id(const wchar_t* key, long id) {
    return id > 0 ? Int(key, id) : Text(key, nullptr);
}

SimLogLine& SimLogLine::Value(const VARIANT* value) {
    if (value == nullptr) return Text(L"vt", nullptr).Text(L"value", nullptr);
    Int(L"vt", V_VT(value));
    if (V_VT(value) == VT_EMPTY || V_VT(value) == VT_NULL) return Text(L"value", V_VT(value) == VT_EMPTY ? L"<empty>" : L"<null>");
    VARIANT text;  // numbers in decimal, VT_BOOL as True or False, VT_BSTR as it is
    ::VariantInit(&text);
    const bool shown = SUCCEEDED(::VariantChangeTypeEx(&text, const_cast<VARIANT*>(value), LOCALE_INVARIANT,
                                                       VARIANT_ALPHABOOL, VT_BSTR));
    Text(L"value", shown ? V_BSTR(&text) : L"<other>");
    ::VariantClear(&text);
    return *this;
}

void SimLogLine::Write() {
    if (!m_line.empty()) AppendToFile(m_path, m_line);
}

void SimModuleLog(const wchar_t* event, LONG live, HRESULT hr, bool withHr, const wchar_t* kinds) {
    ::EnterCriticalSection(&g_logLock);
    wchar_t path[MAX_PATH * 2];
    lstrcpynW(path, g_moduleLogPath, MAX_PATH * 2);
    ::LeaveCriticalSection(&g_logLock);
    SimLogLine line(path, event);
    line.Int(L"live", live);
    if (withHr) line.Hex(L"hr", static_cast<unsigned long>(hr));
    if (kinds != nullptr) line.Text(L"kinds", kinds[0] != L'\0' ? kinds : L"<none>");
    line.Write();
}
