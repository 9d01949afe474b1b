// The scenario's keys and its Answers scripts, read as the simulator answers by them.
#include "sim/SimScript.h"

#include "sim/SimCodes.h"

#include <cwchar>
#include <cwctype>

namespace {

constexpr wchar_t kEveryCall[] = L"*";  // the script that every call reaching the firmware also takes

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

}  // namespace

long long SimParseNumber(const std::wstring& text, long long fallback) {
    if (text.empty()) return fallback;
    wchar_t* end = nullptr;
    const long long value = std::wcstoll(text.c_str(), &end, 0);
    while (end != nullptr && std::iswspace(*end)) ++end;
    return end != nullptr && *end == L'\0' ? value : fallback;
}

HRESULT SimCodeFromText(const std::wstring& text) {
    for (const SimNamedCode& named : kSimNamedCodes)
        if (_wcsicmp(text.c_str(), named.name) == 0) return static_cast<HRESULT>(named.code);
    return static_cast<HRESULT>(static_cast<unsigned long>(SimParseNumber(text, 0)));
}

SimScript SimParseScript(const std::wstring& text) {
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
            if (at != std::wstring::npos) answer.delayMs = static_cast<DWORD>(SimParseNumber(item.substr(at + 1), 0));
            answer.hasCode = !code.empty();
            if (answer.hasCode) answer.hr = SimCodeFromText(code);
        }
        script.answers.push_back(answer);
    }
    return script;
}

std::wstring SimTrim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    const size_t last = text.find_last_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

void SimReadScenario(const SimScenarioKey& key, SimScenario& s) {
    const auto number = [&](const wchar_t* name, long long fallback) { return SimParseNumber(key(name, L""), fallback); };
    s.initialStatus = static_cast<DWORD>(number(L"InitialStatus", s.initialStatus));
    s.instances = static_cast<int>(number(L"Instances", 1));
    if (s.instances < 0) s.instances = 0;
    s.missingPath = number(L"MissingPath", 0) != 0;
    s.resetRewinds = number(L"ResetRewinds", 0) != 0;
    const std::wstring word = key(L"StatusWord", L"");
    s.fixedStatus = !word.empty();
    s.statusWord = std::wcstoull(word.c_str(), nullptr, 0);
    const std::wstring type = key(L"StatusType", L"I4");
    s.statusMissing = _wcsicmp(type.c_str(), L"MISSING") == 0;
    for (const NamedType& named : kNamedTypes)
        if (_wcsicmp(type.c_str(), named.name) == 0) s.statusType = named.type;
    // A notebook just after log-on, with WMI and the firmware's provider starting cold: the connection answers
    // after 4 s, the query's first instance after 5 s, the status after 3 s, unless a script of the kind says
    // otherwise.
    const bool slowLogOn = number(L"SlowLogOn", 0) != 0;
    constexpr struct {
        const wchar_t* kind;
        const wchar_t* script;
    } kSlowLogOn[] = {{L"ConnectServer", L"@4000"}, {L"Next", L"@5000"}, {L"device_status", L"@3000"}};
    for (const SimCallKind& kind : kSimCallKinds) {
        std::wstring text = key((std::wstring(L"Answers.") + kind.name).c_str(), L"");
        for (const auto& slow : kSlowLogOn)
            if (slowLogOn && text.empty() && std::wcscmp(slow.kind, kind.name) == 0) text = slow.script;
        if (!text.empty()) s.scripts[KindKey(kind.name)] = SimParseScript(text);
    }
    const std::wstring every = key(L"Answers.*", L"");
    if (!every.empty()) s.scripts[kEveryCall] = SimParseScript(every);
}

SimAnswer SimNextAnswer(SimScenario& scenario, const wchar_t* kind) {
    const std::wstring key = KindKey(kind);
    const auto own = scenario.scripts.find(key);
    SimAnswer answer = own != scenario.scripts.end() ? TakeAnswer(own->second) : SimAnswer();
    bool reachesFirmware = false;
    for (const SimCallKind& known : kSimCallKinds)
        if (key == KindKey(known.name)) reachesFirmware = known.reachesFirmware;
    const auto every = scenario.scripts.find(kEveryCall);
    if (reachesFirmware && every != scenario.scripts.end()) {
        // A cold or slow firmware delays the call on top of what its own script says.
        const SimAnswer extra = TakeAnswer(every->second);
        answer.never = answer.never || extra.never;
        answer.delayMs += extra.delayMs;
        if (!answer.hasCode && extra.hasCode) answer.hasCode = true, answer.hr = extra.hr;
    }
    return answer;
}
