// One run of the simulated firmware: the scenario read when a locator is made, the feature's state and
// the call log. Every object that a locator leads to shares its session.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

// How the simulated firmware answers one call: as the rest of the scenario says, or with a code of its
// own, after a delay, or never (a stall).
struct SimAnswer {
    bool hasCode = false;  // the answer's code is hr instead of the firmware's own
    HRESULT hr = S_OK;
    bool never = false;    // the call never answers
    DWORD delayMs = 0;     // the answer is ready this long after the call began
};

// The answers scripted for successive calls of one kind; calls past the end answer normally, unless
// the last answer repeats.
struct SimScript {
    std::vector<SimAnswer> answers;
    bool repeatLast = false;
    size_t next = 0;
};

// What a scenario file asks of the simulated firmware; the defaults are one healthy instance. What the
// firmware holds is given by its own keys; how its calls answer (codes, delays, stalls) only by the
// Answers.<kind> scripts.
struct SimScenario {
    std::wstring scenarioPath;  // the scenario file read, empty when none was named
    std::wstring logPath;       // the call log; empty: no log
    std::wstring statePath;     // the state file; empty: the state lives in memory only
    DWORD initialStatus = 0x10000;  // the state when the state file holds none: present, off
    int instances = 1;
    bool missingPath = false;       // instances without __PATH
    bool resetRewinds = false;      // Reset rewinds even a forward-only enumerator
    bool fixedStatus = false;       // device_status reports statusWord whatever the state
    ULONGLONG statusWord = 0;       // 64 bits, for the wide VARIANT types
    VARTYPE statusType = VT_I4;     // type in which device_status hands back ctrl_param
    bool statusMissing = false;     // device_status hands back no ctrl_param at all
    std::map<std::wstring, SimScript> scripts;  // Answers.<kind>: per call kind, lower case
    std::wstring probeDll;          // a DLL name: the log tells where the hosting process would load it from
};

// The call kinds whose answers a scenario may script. The calls marked as reaching the firmware also
// take the answers of the script "*" (a cold start, a slow machine), whichever their kind.
struct SimCallKind {
    const wchar_t* name;
    bool reachesFirmware;
};
constexpr SimCallKind kSimCallKinds[] = {
    {L"ConnectServer", true}, {L"ExecQuery", true},      {L"Next", true},          {L"GetObject", true},
    {L"device_status", true}, {L"device_ctrl", true},    {L"GetMethod", false},    {L"SpawnInstance", false},
    {L"SetBlanket", false},
};

// The shared state of one locator and everything made from it.
class SimSession {
public:
    // Reads the scenario named by PELLORAN_SIM_SCENARIO (and the other variables) into a new session.
    static std::shared_ptr<SimSession> Open();

    explicit SimSession(SimScenario scenario);
    ~SimSession();
    SimSession(const SimSession&) = delete;
    SimSession& operator=(const SimSession&) = delete;

    const SimScenario& scenario() const { return m_scenario; }

    // How the firmware answers this call of a kind (one of kSimCallKinds, or a method's name): its next
    // scripted answer, delayed further by the next answer of "*" when the call reaches the firmware.
    SimAnswer NextAnswer(const wchar_t* kind);

    // The feature's status word as the firmware keeps it (persisted in the state file).
    DWORD ReadState() const;

    // Stores a new status word.
    void WriteState(DWORD statusWord);

private:
    SimScenario m_scenario;
    DWORD m_memoryState;
    mutable CRITICAL_SECTION m_lock;  // calls arrive from the caller's threads and from the answering workers
};

// Builds one line of the call log: "t=<ms>\tpid=<id>\t<Event>\tkey=value...", written by Write.
// The time is taken when the line is started, i.e. when the call began.
class SimLogLine {
public:
    SimLogLine(const SimSession& session, const wchar_t* event);
    // A line of the log file at logPath (empty: no log), which must outlive the line.
    SimLogLine(const wchar_t* logPath, const wchar_t* event);
    SimLogLine(SimLogLine&&) = default;
    SimLogLine(const SimLogLine&) = delete;
    SimLogLine& operator=(const SimLogLine&) = delete;

    // A text field; a null text is written as <null>.
    SimLogLine& Text(const wchar_t* key, const wchar_t* value);
    // A signed decimal field.
    SimLogLine& Int(const wchar_t* key, long long value);
    // A hexadecimal field, "0x" and lower-case digits without leading zeros.
    SimLogLine& Hex(const wchar_t* key, unsigned long value);
    // An object id field; a missing object is written as <null>.
    SimLogLine& Id(const wchar_t* key, long id);
    // Two fields for a VARIANT: vt=<type number> value=<its value in text>.
    SimLogLine& Value(const VARIANT* value);
    // Appends the line to the session's log.
    void Write();

private:
    const wchar_t* m_path;
    std::wstring m_line;
};

// Appends a line about the module itself (not a session's call) to the log of the latest session; kinds,
// when given, names the live objects.
void SimModuleLog(const wchar_t* event, LONG live, HRESULT hr, bool withHr, const wchar_t* kinds = nullptr);

// Ready the module's log lock (DLL attach).
void SimLogInit();

// Text without its leading and trailing blanks and tabs.
std::wstring SimTrim(const std::wstring& text);

// The apartment of the calling thread, as the log names it: "mta", "sta" or "none".
const wchar_t* SimApartmentName();
