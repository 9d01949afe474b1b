// The scenario's language: what the firmware holds and how its calls answer, read from a scenario's keys. One
// reader for the simulator, which answers by it, and for the tests that predict its answers.
#pragma once

#include <windows.h>
#include <wtypes.h>

#include <functional>
#include <map>
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

// A key of the scenario as text, fallback when the scenario has none.
using SimScenarioKey = std::function<std::wstring(const wchar_t* key, const wchar_t* fallback)>;

// Reads what the firmware holds and the Answers scripts from a scenario's keys into scenario (its files, the log,
// the state and the probe, are the session's to read).
void SimReadScenario(const SimScenarioKey& key, SimScenario& scenario);

// The next answer of the scenario for a call of a kind (one of kSimCallKinds, or a method's name): its next
// scripted answer, delayed further by the next answer of "*" when the call reaches the firmware.
SimAnswer SimNextAnswer(SimScenario& scenario, const wchar_t* kind);

// A number written in decimal or with 0x in hexadecimal; fallback when the text is no number.
long long SimParseNumber(const std::wstring& text, long long fallback);

// An HRESULT written as a number or as one of the named codes (SimCodes.h), in any case.
HRESULT SimCodeFromText(const std::wstring& text);

// The answers of one Answers.<kind> key: "answer, answer, ...", each "never" (in any case) or "[code][@ms]", the
// last one followed by "*" when it repeats. A code alone answers at once; "@ms" alone is the normal answer, late.
SimScript SimParseScript(const std::wstring& text);

// Text without its leading and trailing blanks and tabs.
std::wstring SimTrim(const std::wstring& text);
