// What a random schedule's scenario makes the firmware answer, and so what the dialog must show: the start, worked
// out call by call as the tool makes them and the simulator answers them (through the simulator's own reading of the
// scenario and the firmware's own bounds and retries), and the state read back after a click.
#pragma once

#include "firmware/FirmwareCalls.h"
#include "firmware/FirmwareState.h"
#include "sim/SimScript.h"
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

// The status word that a ctrl_param of the type holds for the tool (false: none): the type's bits, present, in 32 bits.
inline bool StatusWordIn(VARTYPE type, unsigned long long& word) {
    if (type == VT_I2 || type == VT_UI2) word &= 0xFFFF;
    else if (type == VT_I1 || type == VT_UI1) word &= 0xFF;
    else if (type == VT_I4 || type == VT_UI4 || type == VT_INT || type == VT_UINT) word &= 0xFFFFFFFF;
    else if (type != VT_I8 && type != VT_UI8) return false;  // no integer: no status word
    return word <= 0xFFFFFFFF && (word & 0x10000) != 0;
}

// What the dialog shows for a valid status word, by the rules of the start.
inline std::string View(unsigned long long status, bool adapterStored) {
    const int mode = int(status & 0xFF);
    return std::string(mode == 0 ? "off " : "on ") + (mode == 1 || (mode != 3 && adapterStored) ? "A" : "B");
}

// The firmware a schedule's scenario describes, and the start it makes the tool show: "na A", "off B", "on A", ...,
// "object!" or "status!", or "" when the answers come too near a bound for the outcome to be certain. Under a policy
// (its control value, or -1 for none) the start then sends the policy's state unless the firmware reports it, and
// shows the state read back, with the warning when the firmware is not in the policy's state after it.
class Prediction {
public:
    Prediction(const std::string& scenario, bool adapterStored, int policy) : m_adapterStored(adapterStored), m_policy(policy) {
        std::map<std::wstring, std::wstring> keys;
        std::istringstream items(scenario);
        for (std::string item; std::getline(items, item, ';');) {
            const std::wstring key(item.begin(), item.end());
            keys[key.substr(0, key.find('='))] = key.substr(key.find('=') + 1);
        }
        SimReadScenario([&keys](const wchar_t* key, const wchar_t* fallback) { return keys.count(key) ? keys[key] : fallback; },
                        m_scenario);
    }

    std::string Start() {
        std::string outcome = RunStart();
        if (m_policy >= 0 && m_valid && int(m_status & 0xFF) != m_policy) outcome = ApplyPolicy();
        return m_certain ? outcome : "";
    }

    // Whether the start ends with the warning that the policy's state was not taken.
    bool Warns() const { return m_warns; }

private:
    static constexpr long kNever = LONG_MAX;

    std::string NotAvailable() const { return m_adapterStored ? "na A" : "na B"; }

    // The start as the tool makes it, each answer taken in the order the tool's calls take them.
    std::string RunStart() {
        // The connection, on its own (a cold start's delay included); a warning code is no connection.
        const SimAnswer connect = SimNextAnswer(m_scenario, L"ConnectServer");
        if (!Within(connect, kStartupBoundMs) || (connect.hasCode && connect.hr != S_OK)) return NotAvailable();
        // The query: its answer holds back the enumerator's results; a failure leaves no enumerator.
        const SimAnswer query = SimNextAnswer(m_scenario, L"ExecQuery");
        if (query.hasCode && FAILED(query.hr)) return LearnedNothing(query.hr) ? NotAvailable() : "object!";
        const long results = query.never ? kNever : m_t + long(query.delayMs);
        // The counting pass; once an instance is in hand, the rest of the enumeration has a call's bound.
        int count = 0;
        long rest = kStartupBoundMs;
        HRESULT latest = S_OK;
        for (;;) {
            SimAnswer next = SimNextAnswer(m_scenario, L"Next");
            next.never = next.never || results == kNever;
            next.delayMs = std::max(long(next.delayMs), results - m_t);
            if (!Within(next, rest)) {
                latest = WBEM_E_TIMED_OUT;
                break;
            }
            latest = next.hasCode ? next.hr : count < m_scenario.instances ? S_OK : HRESULT(WBEM_S_FALSE);
            if (latest != S_OK) break;
            if (count++ == 0) rest = std::min<long>(kStartupBoundMs, m_t + kFirmwareBoundMs);
        }
        if (count == 0) return LearnedNothing(latest) ? NotAvailable() : "object!";
        // The walk past the first path, when the enumeration ended in time: after a Reset that a forward-only
        // enumerator refuses, one Next; more when the scenario rewinds it, up to the count.
        for (int entry = 0; SUCCEEDED(latest);) {
            const SimAnswer next = SimNextAnswer(m_scenario, L"Next");
            if (!Within(next, rest)) break;
            const bool object = m_scenario.resetRewinds && (!next.hasCode || next.hr == S_OK);
            if (!object || ++entry >= count) break;
        }
        // The status call, with its retries; then the word it hands back, in the type the scenario gives it.
        const CallEnd statusCall = Call(L"device_status");
        if (statusCall == kLearnedNothing) return NotAvailable();
        if (statusCall == kFailed || m_scenario.missingPath) return "status!";
        m_status = m_scenario.fixedStatus ? m_scenario.statusWord : m_scenario.initialStatus;
        m_valid = Typed(m_status);
        return m_valid ? View(m_status, m_adapterStored) : "status!";
    }

    bool Typed(unsigned long long& status) const { return !m_scenario.statusMissing && StatusWordIn(m_scenario.statusType, status); }

    // The policy's state sent, and the status read back, each within a call's bound and what is left of the start's:
    // the firmware takes the state when the call succeeds (a fixed status word stays as it is).
    std::string ApplyPolicy() {
        const bool taken = Call(L"device_ctrl", std::min<long>(kStartupBoundMs, m_t + kFirmwareBoundMs)) == kAnswered;
        unsigned long long status = m_scenario.fixedStatus ? m_scenario.statusWord : taken ? 0x10000ULL | unsigned(m_policy) : m_status;
        const bool read = Call(L"device_status", std::min<long>(kStartupBoundMs, m_t + kFirmwareBoundMs)) == kAnswered && Typed(status);
        m_warns = !taken || !read || int(status & 0xFF) != m_policy;
        return read ? View(status, m_adapterStored) : NotAvailable();
    }

    // Whether the answer comes, taken from now, before the deadline; the clock moves to the answer or to the deadline.
    // An answer within a margin of the deadline makes the outcome uncertain.
    bool Within(const SimAnswer& answer, long deadline) {
        constexpr long kMargin = 1500;
        const long at = answer.never ? kNever : m_t + long(answer.delayMs);
        if (at != kNever && std::labs(at - deadline) < kMargin) m_certain = false;
        m_t = std::min(at, deadline);
        return at < deadline;
    }
    // A method call: the class lookup, the definitions and the method, each awaited until the bound (by default the
    // start's), its steps tried again while a failure may pass, as the firmware's calls pause and count their retries.
    enum CallEnd { kAnswered, kFailed, kLearnedNothing };
    bool Again(HRESULT hr, long start, int& pauses, long bound) {
        const long next = start + (pauses + 1) * long(kRetryPauseMs);
        if (!FailureMayPass(hr) || pauses == kMaxRetryPauses || next > bound) return false;
        m_t = std::max(m_t, next);
        ++pauses;
        return true;
    }
    static CallEnd Failure(HRESULT hr) { return LearnedNothing(hr) ? kLearnedNothing : kFailed; }
    CallEnd Call(const wchar_t* method, long bound = kStartupBoundMs) {
        const long start = m_t;
        int pauses = 0;
        for (;;) {
            const SimAnswer object = SimNextAnswer(m_scenario, L"GetObject");
            if (!Within(object, bound)) return kLearnedNothing;
            const HRESULT hr = object.hasCode ? object.hr : S_OK;
            if (hr == S_OK) break;
            if (SUCCEEDED(hr) || !Again(hr, start, pauses, bound)) return SUCCEEDED(hr) ? kFailed : Failure(hr);
        }
        for (const wchar_t* step : {L"GetMethod", L"SpawnInstance"}) {  // objects in hand: a code, never a delay
            const SimAnswer answer = SimNextAnswer(m_scenario, step);
            if (answer.hasCode && answer.hr != S_OK) return FAILED(answer.hr) ? Failure(answer.hr) : kFailed;
        }
        for (;;) {
            const SimAnswer attempt = SimNextAnswer(m_scenario, method);
            if (!Within(attempt, bound)) return kLearnedNothing;
            const HRESULT hr = attempt.hasCode ? attempt.hr : S_OK;
            if (SUCCEEDED(hr)) return kAnswered;
            if (!Again(hr, start, pauses, bound)) return Failure(hr);
        }
    }

    SimScenario m_scenario;
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
// handed back, by the rules of the start, or not available when it handed back no valid status word.
inline std::string ReadBackView(const std::vector<SimLogEntry>& log, size_t from, bool adapterStored) {
    std::string view = adapterStored ? "na A" : "na B";
    for (size_t at = from; at < log.size(); ++at) {
        const SimLogEntry& get = log[at];
        if (get.event != "Get" || get["name"] != "ctrl_param" || get["hr"] != "0x0") continue;
        const VARTYPE vt = VARTYPE(std::stoi(get["vt"]));
        const bool isSigned = vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8 || vt == VT_INT;
        const bool isUnsigned = vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8 || vt == VT_UINT;
        unsigned long long word = isSigned ? std::stoll(get["value"]) : isUnsigned ? std::stoull(get["value"]) : 0;
        view = StatusWordIn(vt, word) ? View(word, adapterStored) : adapterStored ? "na A" : "na B";
    }
    return view;
}

}  // namespace e2e
