// One run of the simulated firmware: the scenario read when a locator is made, the feature's state and
// the call log. Every object that a locator leads to shares its session.
#pragma once

#include "sim/SimScript.h"

#include <windows.h>
#include <oleauto.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

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

// The apartment of the calling thread, as the log names it: "mta", "sta" or "none".
const wchar_t* SimApartmentName();
