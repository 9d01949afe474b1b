// The scenario file, the persisted feature state and the call log of the simulated firmware.
#include "sim/SimSession.h"

#include "sim/MonotonicClock.h"
#include "sim/VirtualClock.h"
#include "sim/SimModule.h"

#include <objbase.h>
#include <wbemidl.h>

#include <cwchar>

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

    SimReadScenario([&file](const wchar_t* key, const wchar_t* fallback) { return ScenarioText(file, key, fallback); }, s);
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
    const SimAnswer answer = SimNextAnswer(m_scenario, kind);
    ::LeaveCriticalSection(&m_lock);
    return answer;
}

DWORD SimSession::ReadState() const {
    if (m_scenario.statePath.empty()) return m_memoryState;
    wchar_t text[64];
    ::GetPrivateProfileStringW(kStateSection, kStateKey, L"", text, 64, m_scenario.statePath.c_str());
    return static_cast<DWORD>(SimParseNumber(text, m_scenario.initialStatus));
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
