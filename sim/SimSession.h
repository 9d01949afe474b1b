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

// What a scenario file asks of the simulated firmware; the defaults are one healthy instance.
struct SimScenario {
    std::wstring scenarioPath;  // the scenario file read, empty when none was named
    std::wstring logPath;       // the call log; empty: no log
    std::wstring statePath;     // the state file; empty: the state lives in memory only
    DWORD initialStatus = 0x10000;  // the state when the state file holds none: present, off
    HRESULT connectHr = S_OK;       // ConnectServer's answer (a success code still hands back the namespace)
    int instances = 1;
    bool missingPath = false;       // instances without __PATH
    HRESULT execQueryHr = S_OK;     // a failure: ExecQuery hands back no enumerator
    bool resetRewinds = false;      // Reset rewinds even a forward-only enumerator
    HRESULT getObjectHr = S_OK;     // failure: no class definition; success other than S_OK: both
    HRESULT getMethodHr = S_OK;
    HRESULT spawnInstanceHr = S_OK;
    int execMethodFailures = 0;     // ExecMethod attempts that fail before one succeeds; -1: all fail
    HRESULT execMethodFailHr = static_cast<HRESULT>(0x80041001);  // WBEM_E_FAILED
    std::wstring execMethodFailOnly;  // only this method's attempts fail (empty: both)
    bool failuresPerCall = false;     // the failure count starts again with each new in-parameter object
    bool fixedStatus = false;         // device_status reports statusWord whatever the state
    ULONGLONG statusWord = 0;         // 64 bits, for the wide VARIANT types
    VARTYPE statusType = VT_I4;       // type in which device_status hands back ctrl_param
    bool statusMissing = false;       // device_status hands back no ctrl_param at all
    DWORD latencyMs = 0;              // how long every call that reaches the firmware takes to answer
    std::map<std::wstring, SimScript> scripts;  // Answers.<kind>: per call kind, lower case
    std::wstring probeDll;            // a DLL name: the log tells where the hosting process would load it from
};

// The shared state of one locator and everything made from it.
class SimSession {
public:
    // Reads the scenario named by PELLORAN_SIM_SCENARIO (and the other variables) into a new session.
    static std::shared_ptr<SimSession> Open();

    explicit SimSession(SimScenario scenario);

    const SimScenario& scenario() const { return m_scenario; }

    // How the firmware answers this call of a kind (ConnectServer, ExecQuery, Next, GetObject or a
    // method's name): the next scripted answer, or the normal one after the scenario's latency.
    SimAnswer NextAnswer(const wchar_t* kind);

    // The feature's status word as the firmware keeps it (persisted in the state file).
    DWORD ReadState() const;

    // Stores a new status word.
    void WriteState(DWORD statusWord);

    // A new in-parameter object was spawned: with per-call failures, the count starts again.
    void NoteInParamsSpawned();

    // Whether this ExecMethod attempt of the method is one the scenario makes fail.
    bool ExecMethodAttemptFails(const wchar_t* methodName);

    // Appends one finished line to the call log (no-op without a log).
    void Append(const std::wstring& line) const;

private:
    SimScenario m_scenario;
    DWORD m_memoryState;
    int m_failedAttempts = 0;
};

// Builds one line of the call log: "t=<ms>\tpid=<id>\t<Event>\tkey=value...", written by Write.
// The time is taken when the line is started, i.e. when the call began.
class SimLogLine {
public:
    SimLogLine(const SimSession& session, const wchar_t* event);
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
    const SimSession& m_session;
    std::wstring m_line;
};

// Appends a line about the module itself (not a session's call) to the log of the latest session; kinds,
// when given, names the live objects.
void SimModuleLog(const wchar_t* event, LONG live, HRESULT hr, bool withHr, const wchar_t* kinds = nullptr);

// Ready the module's log lock (DLL attach).
void SimLogInit();
