// The firmware simulator as the tests drive it: a run's scenario, and its call log read back.
#pragma once

#include "tests/support/Files.h"

#include <windows.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// One line of the simulator's call log: its event and its key=value fields.
struct SimLogEntry {
    std::string event;
    std::map<std::string, std::string> fields;
    std::string operator[](const std::string& key) const {
        const auto found = fields.find(key);
        return found != fields.end() ? found->second : std::string();
    }
    long long t() const { return std::stoll((*this)["t"]); }  // the simulator's clock, in ms
};

// A run of the firmware simulator in a folder: its scenario, the feature's state and its call log. The
// scenario is named to the simulator through the environment, which programs started later inherit.
class SimRun {
public:
    explicit SimRun(const std::wstring& runFolder) : folder(runFolder) {
        ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", (folder + L"\\scenario.ini").c_str());
    }

    // Writes the scenario: keys of its [Scenario] section as "Key=Value" lines separated by ';'.
    void Scenario(const std::string& keys) const {
        const std::string at(folder.begin(), folder.end());
        std::string text = "[Scenario]\r\nLog=" + at + "\\sim.log\r\nState=" + at + "\\state.ini\r\n";
        std::istringstream lines(keys);
        for (std::string line; std::getline(lines, line, ';');) text += line + "\r\n";
        WriteFileBytes(folder + L"\\scenario.ini", text);
    }

    std::vector<SimLogEntry> Log(const std::string& event = "") const {
        std::vector<SimLogEntry> entries;
        std::istringstream lines(ReadFileBytes(folder + L"\\sim.log"));
        for (std::string line; std::getline(lines, line);) {
            SimLogEntry entry;
            std::istringstream fields(line);
            for (std::string field; std::getline(fields, field, '\t');) {
                const size_t equals = field.find('=');
                if (equals == std::string::npos) entry.event = field;
                else entry.fields[field.substr(0, equals)] = field.substr(equals + 1);
            }
            if (event.empty() || entry.event == event) entries.push_back(entry);
        }
        return entries;
    }

    // The control values that device_ctrl was executed with, in order: a call puts its ctrl_param once, then
    // executes, more than once when an attempt fails.
    std::vector<int> ControlValues() const {
        std::vector<int> values;
        std::string pending;
        for (const SimLogEntry& entry : Log()) {
            if (entry.event == "Put" && entry["name"] == "ctrl_param") pending = entry["value"];
            if (entry.event == "ExecMethod" && entry["method"] == "device_ctrl" && !pending.empty())
                values.push_back(std::stoi(pending)), pending.clear();
        }
        return values;
    }

    const std::wstring folder;
};

// The calls on WMI's proxies (the namespace, enumerators, call results) that were not preceded by a blanket
// for their object in the caller's apartment (packet privacy, impersonation, NTLM, as Windows' WMI clients
// set it), one line each; empty when every proxy got its blanket before its first call. A blanket that the
// simulator refused still counts: the program must go on without it.
inline std::string ProxyCallsWithoutBlanket(const std::vector<SimLogEntry>& log) {
    std::map<std::string, std::string> blanketed;  // object -> apartments where it got one
    std::string problems;
    for (const SimLogEntry& line : log) {
        const std::string where = line["this"] + "@" + line["apt"];
        if (line.event == "SetBlanket") {
            blanketed[where] = "yes";
            if (!line["level"].empty() &&
                line["authn"] + " " + line["authz"] + " " + line["principal"] + " " + line["level"] + " " + line["imp"] +
                        " " + line["identity"] + " " + line["caps"] != "10 0 <null> 6 3 <null> 0x0")
                problems += "a blanket of other values on " + where + "\n";
        } else if ((line.event == "ExecQuery" || line.event == "GetObject" || line.event == "ExecMethod" ||
                    line.event == "Next" || line.event == "GetResultObject") && blanketed.count(where) == 0) {
            problems += line.event + " on " + where + " before its blanket\n";
        }
    }
    return problems;
}

}  // namespace testsupport
