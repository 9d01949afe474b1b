// What a random schedule's scenario makes the firmware answer, and so what the dialog must show: the start, worked
// out call by call as the tool makes them and the simulator answers them, and the state read back after a click.
#pragma once

#include "sim/SimCodes.h"
#include "tests/e2e/DialogRun.h"

#include <windows.h>
#include <wbemcli.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace e2e {

// The scenario's scripts, taken call by call as the simulator takes them.
struct Script {
    struct Answer {
        bool hasCode = false, never = false;
        HRESULT hr = S_OK;
        long delay = 0;
    };
    std::vector<Answer> answers;
    bool repeat = false;
    size_t next = 0;
    Answer Take() { return next < answers.size() ? answers[next++] : repeat && !answers.empty() ? answers.back() : Answer(); }
};

inline HRESULT CodeNamed(const std::string& name) {
    for (const SimNamedCode& named : kSimNamedCodes)
        if (std::wstring(name.begin(), name.end()) == named.name) return HRESULT(named.code);
    return HRESULT(std::stoul(name, nullptr, 0));
}

// A failure that the program tries again (the others end a call at once): the ones AnyCode may give.
inline bool MayPass(HRESULT hr) {
    for (const char* name : {"WBEM_E_FAILED", "WBEM_E_TIMED_OUT", "WBEM_E_SERVER_TOO_BUSY", "WBEM_E_CALL_CANCELLED",
                             "WBEM_E_TRANSPORT_FAILURE", "RPC_E_CALL_REJECTED"})
        if (hr == CodeNamed(name)) return true;
    return false;
}

// A failed step's code that says nothing about the firmware: given up, timed out, or the connection to WMI gone. Such a
// start shows the firmware as not available, never a fatal message.
inline bool LearnedNothing(HRESULT hr) {
    for (const char* name : {"WBEM_E_TIMED_OUT", "RPC_E_DISCONNECTED", "RPC_E_SERVER_DIED", "RPC_E_SERVER_DIED_DNE",
                             "RPC_S_SERVER_UNAVAILABLE", "WBEM_E_SHUTTING_DOWN"})
        if (hr == CodeNamed(name)) return true;
    return false;
}

// The firmware a schedule's scenario describes, and the start it makes the tool show: "na A", "off B", "on A", ...,
// "object!" or "status!", or "" when the answers come too near a bound for the outcome to be certain. Under a policy
// (its control value, or -1 for none) the start then sends the policy's state unless the firmware reports it, and
// shows the state read back, with the warning when the firmware is not in the policy's state after it.
class Prediction {
public:
    Prediction(const std::string& scenario, bool adapterStored, int policy = -1) : m_adapterStored(adapterStored), m_policy(policy) {
        std::istringstream keys(scenario);
        for (std::string key; std::getline(keys, key, ';');) {
            const std::string name = key.substr(0, key.find('=')), value = key.substr(key.find('=') + 1);
            if (name.rfind("Answers.", 0) == 0) m_scripts[name.substr(8)] = ParseScript(value);
            else m_keys[name] = value;
        }
        // A notebook just after log-on: the kinds the scenario leaves unscripted answer late.
        if (Key("SlowLogOn", "0") == "1")
            for (const auto& [kind, script] : {std::pair{"ConnectServer", "@4000"}, {"Next", "@5000"}, {"device_status", "@3000"}})
                if (!m_scripts.count(kind)) m_scripts[kind] = ParseScript(script);
    }

    std::string Start() {
        std::string outcome = RunStart();
        if (m_policy >= 0 && m_valid && int(m_status & 0xFF) != m_policy) outcome = ApplyPolicy();
        return m_certain ? outcome : "";
    }

    // Whether the start ends with the warning that the policy's state was not taken.
    bool Warns() const { return m_warns; }

    // What the dialog shows for a valid status word, by the rules of the start.
    std::string View(unsigned long long status) const {
        const int mode = int(status & 0xFF);
        return std::string(mode == 0 ? "off " : "on ") + (mode == 1 ? "A" : mode == 3 ? "B" : Stored());
    }

private:
    static constexpr long kNever = LONG_MAX;

    // The start as the tool makes it, each answer taken in the order the tool's calls take them.
    std::string RunStart() {
        // The connection, on its own (a cold start's delay included); a warning code is no connection.
        const Script::Answer connect = Take("ConnectServer");
        if (!Within(connect, kStartBoundMs) || (connect.hasCode && connect.hr != S_OK)) return "na " + Stored();
        // The query: its answer holds back the enumerator's results; a failure leaves no enumerator.
        const Script::Answer query = Take("ExecQuery");
        if (query.hasCode && FAILED(query.hr)) return LearnedNothing(query.hr) ? "na " + Stored() : "object!";
        const long results = query.never ? kNever : m_t + query.delay;
        const int instances = std::stoi(Key("Instances", "1"));
        // The counting pass; once an instance is in hand, the rest of the enumeration has a click's bound.
        int count = 0;
        long rest = kStartBoundMs;
        HRESULT latest = S_OK;
        for (;;) {
            Script::Answer next = Take("Next");
            next.never = next.never || results == kNever;
            next.delay = std::max(next.delay, results - m_t);
            if (!Within(next, rest)) {
                latest = WBEM_E_TIMED_OUT;
                break;
            }
            latest = next.hasCode ? next.hr : count < instances ? S_OK : HRESULT(WBEM_S_FALSE);
            if (latest != S_OK) break;
            if (count++ == 0) rest = std::min<long>(kStartBoundMs, m_t + kBoundMs);
        }
        if (count == 0) return LearnedNothing(latest) ? "na " + Stored() : "object!";
        // The walk past the first path, when the enumeration ended in time: after a Reset that a forward-only
        // enumerator refuses, one Next; more when the scenario rewinds it, up to the count.
        for (int entry = 0; SUCCEEDED(latest);) {
            const Script::Answer next = Take("Next");
            if (!Within(next, rest)) break;
            const bool object = Key("ResetRewinds", "0") == "1" && (!next.hasCode || next.hr == S_OK);
            if (!object || ++entry >= count) break;
        }
        // The status call, with its retries; then the word it hands back, in the type the scenario gives it.
        const CallEnd statusCall = Call("device_status");
        if (statusCall == kLearnedNothing) return "na " + Stored();
        if (statusCall == kFailed || Key("MissingPath", "0") == "1") return "status!";
        m_status = std::stoull(Key("StatusWord", Key("InitialStatus", "0x10000")), nullptr, 0);
        m_valid = Typed(m_status);
        return m_valid ? View(m_status) : "status!";
    }

    // The status word as the tool takes it in the scenario's type: false for no valid status word.
    bool Typed(unsigned long long& status) const {
        const std::string type = Key("StatusType", "I4");
        if (type == "I2" || type == "UI2") status &= 0xFFFF;
        else if (type == "I1" || type == "UI1") status &= 0xFF;
        else if (type == "I4" || type == "UI4" || type == "INT" || type == "UINT") status &= 0xFFFFFFFF;
        else if (type != "I8" && type != "UI8") return false;  // no integer: no status word
        return status <= 0xFFFFFFFF && (status & 0x10000) != 0;
    }

    // The policy's state sent, and the status read back, each within a call's bound and what is left of the start's:
    // the firmware takes the state when the call succeeds (a fixed status word stays as it is).
    std::string ApplyPolicy() {
        const bool taken = Call("device_ctrl", std::min<long>(kStartBoundMs, m_t + kBoundMs)) == kAnswered;
        unsigned long long status = Key("StatusWord", "").empty() && taken ? 0x10000ULL | unsigned(m_policy) : m_status;
        if (!Key("StatusWord", "").empty()) status = std::stoull(Key("StatusWord", ""), nullptr, 0);
        const bool read = Call("device_status", std::min<long>(kStartBoundMs, m_t + kBoundMs)) == kAnswered && Typed(status);
        m_warns = !taken || !read || int(status & 0xFF) != m_policy;
        return read ? View(status) : "na " + Stored();
    }

    static Script ParseScript(std::string text) {
        Script script;
        script.repeat = !text.empty() && text.back() == '*';
        if (script.repeat) text.pop_back();
        std::istringstream items(text);
        for (std::string item; std::getline(items >> std::ws, item, ',');) {
            Script::Answer answer;
            answer.never = item == "never";
            const std::string code = item.substr(0, item.find('@'));
            if (!answer.never && item.find('@') != std::string::npos) answer.delay = std::stol(item.substr(item.find('@') + 1));
            if (!answer.never && !code.empty()) answer.hasCode = true, answer.hr = CodeNamed(code);
            script.answers.push_back(answer);
        }
        return script;
    }

    std::string Key(const std::string& name, const std::string& fallback) const {
        return m_keys.count(name) ? m_keys.at(name) : fallback;
    }
    std::string Stored() const { return m_adapterStored ? "A" : "B"; }

    // The next answer of a kind, a cold start's or a slow machine's delay added as the simulator adds it.
    Script::Answer Take(const std::string& kind) {
        Script::Answer answer = m_scripts[kind].Take();
        if (kind == "GetMethod" || kind == "SpawnInstance") return answer;
        const Script::Answer every = m_scripts["*"].Take();
        answer.never = answer.never || every.never;
        answer.delay += every.delay;
        if (!answer.hasCode && every.hasCode) answer.hasCode = true, answer.hr = every.hr;
        return answer;
    }

    // Whether the answer comes, taken from now, before the deadline; the clock moves to the answer or to the deadline.
    // An answer within a margin of the deadline makes the outcome uncertain.
    bool Within(const Script::Answer& answer, long deadline) {
        constexpr long kMargin = 1500;
        const long at = answer.never ? kNever : m_t + answer.delay;
        if (at != kNever && std::labs(at - deadline) < kMargin) m_certain = false;
        m_t = std::min(at, deadline);
        return at < deadline;
    }
    // A method call: the class lookup, the definitions and the method, each awaited until the bound (by default the
    // start's), its steps tried again while a failure may pass, attempts 500 ms apart from the call's start, six
    // retries at most.
    enum CallEnd { kAnswered, kFailed, kLearnedNothing };
    bool Again(HRESULT hr, long start, int& pauses, long bound) {
        if (!MayPass(hr) || pauses == 6 || start + (pauses + 1) * 500 > bound) return false;
        m_t = std::max(m_t, start + (pauses + 1) * 500L);
        ++pauses;
        return true;
    }
    static CallEnd Failure(HRESULT hr) { return LearnedNothing(hr) ? kLearnedNothing : kFailed; }
    CallEnd Call(const std::string& method, long bound = kStartBoundMs) {
        const long start = m_t;
        int pauses = 0;
        for (;;) {
            const Script::Answer object = Take("GetObject");
            if (!Within(object, bound)) return kLearnedNothing;
            const HRESULT hr = object.hasCode ? object.hr : S_OK;
            if (hr == S_OK) break;
            if (SUCCEEDED(hr) || !Again(hr, start, pauses, bound)) return SUCCEEDED(hr) ? kFailed : Failure(hr);
        }
        for (const char* step : {"GetMethod", "SpawnInstance"}) {
            const Script::Answer answer = Take(step);
            if (answer.hasCode && answer.hr != S_OK) return FAILED(answer.hr) ? Failure(answer.hr) : kFailed;
        }
        for (;;) {
            const Script::Answer attempt = Take(method);
            if (!Within(attempt, bound)) return kLearnedNothing;
            const HRESULT hr = attempt.hasCode ? attempt.hr : S_OK;
            if (SUCCEEDED(hr)) return kAnswered;
            if (!Again(hr, start, pauses, bound)) return Failure(hr);
        }
    }

    std::map<std::string, std::string> m_keys;
    std::map<std::string, Script> m_scripts;
    bool m_adapterStored;
    int m_policy;
    unsigned long long m_status = 0;  // the status word of the start, in the tool's reading
    bool m_valid = false, m_warns = false;
    bool m_certain = true;
    long m_t = 0;
};

// Whether a stored mode reads as Adapter Mode: 1 in at most 4 bytes of any type; a value that does not fit, or none,
// is replaced by 1; a key that cannot be made reads as nothing, which is not Adapter Mode.
inline bool StoredReadsAsAdapter(const Stored& stored, bool blocked) {
    if (blocked) return false;
    if (stored.type == REG_NONE || stored.bytes.size() > 4) return true;
    DWORD value = 0;
    std::memcpy(&value, stored.bytes.data(), stored.bytes.size());
    return value == 1;
}

// The view that the status read back after a click shows, from the simulator's log after the click: what the firmware
// handed back, by the rules of the start, or "na" when it handed back no valid status word.
inline std::string ReadBackView(const std::vector<SimLogEntry>& log, size_t from, const Prediction& firmware, bool adapterStored) {
    std::string view = std::string("na ") + (adapterStored ? "A" : "B");
    for (size_t at = from; at < log.size(); ++at) {
        const SimLogEntry& get = log[at];
        if (get.event != "Get" || get["name"] != "ctrl_param" || get["hr"] != "0x0") continue;
        const int vt = std::stoi(get["vt"]);
        const bool isSigned = vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8 || vt == VT_INT;
        const bool isUnsigned = vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8 || vt == VT_UINT;
        unsigned long long bits = ~0ULL;  // no status word
        if (isUnsigned) bits = std::stoull(get["value"]);
        if (isSigned) {
            const long long value = std::stoll(get["value"]);
            bits = vt == VT_I1 ? value & 0xFF : vt == VT_I2 ? value & 0xFFFF : vt == VT_I8 ? (value < 0 ? ~0ULL : value) : value & 0xFFFFFFFF;
        }
        view = bits <= 0xFFFFFFFF && (bits & 0x10000) != 0 ? firmware.View(bits) : std::string("na ") + (adapterStored ? "A" : "B");
    }
    return view;
}

}  // namespace e2e
