// Test helpers around the firmware simulator: a scenario file per test, its call log read back line by
// line, the simulator's live-object count, and the diagnostics a program sends to the debugger.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

// One line of the simulator's call log: its event (ExecMethod, Put, Free, ...) and its fields.
struct SimLogEntry {
    long long t = 0;  // milliseconds, monotonic
    std::string event;
    std::map<std::string, std::string> fields;

    // A field's text, empty when the line has no such field.
    std::string operator[](const std::string& key) const {
        const auto found = fields.find(key);
        return found == fields.end() ? std::string() : found->second;
    }
};

// Keys of a scenario's [Scenario] section, e.g. {{"Instances", "3"}}.
using SimKeys = std::vector<std::pair<std::string, std::string>>;

// A scenario of its own for one test: a fresh folder with the scenario, the state and the log files,
// named to the simulator through PELLORAN_SIM_SCENARIO (read whenever a locator is made).
class SimScenarioFile {
public:
    explicit SimScenarioFile(const SimKeys& keys = {});  // keys besides Log and State
    ~SimScenarioFile();
    SimScenarioFile(const SimScenarioFile&) = delete;
    SimScenarioFile& operator=(const SimScenarioFile&) = delete;

    // Every line logged so far, or only those of one event, in order.
    std::vector<SimLogEntry> Log(const std::string& event = "") const;

private:
    std::wstring m_folder, m_scenario, m_state, m_log;
};

// The simulator's count of live objects in this process; -1 when PelloranSim.dll is not loaded.
LONG SimLiveObjects();

// Collects what the process sends to OutputDebugString while it lives (through a vectored handler).
class DebugOutputCapture {
public:
    DebugOutputCapture();
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    const std::vector<std::string>& texts() const;

private:
    void* m_handler;
};

// A WMI code (the headers make them unsigned enumerators) as the HRESULT that calls return.
constexpr HRESULT AsHr(unsigned long code) { return static_cast<HRESULT>(code); }

// Milliseconds of a monotonic clock, for the time a call took.
inline long long NowMs() { return static_cast<long long>(::GetTickCount64()); }
