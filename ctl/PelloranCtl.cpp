// pelloranctl: the command line of Pelloran, for scripts and fleet management. It reads and switches the USB
// charging feature through the same firmware calls, codes, retries and bounds as the dialog, and says what it
// found in one line of English (or one JSON object) and an exit code.
#include "firmware/FirmwareCalls.h"
#include "firmware/FirmwareState.h"
#include "firmware/PelloranCodes.h"
#include "firmware/WmiClient.h"
#include "framework/Afx.h"
#include "prefs/ModePreference.h"
#include "prefs/UsbChargingPolicy.h"
#include "res/version.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <new>
#include <string>
#include <string_view>

namespace {

// The exit codes, documented in the usage and the README.
enum Exit {
    kDone = 0,
    kUsage = 1,        // an unknown command, mode or option
    kNoFirmware = 2,   // this machine has no such firmware (no management object)
    kNoStatus = 3,     // no valid status from the firmware
    kDenied = 4,       // access denied: an elevated prompt is needed
    kNotApplied = 5,   // the change was not applied: the firmware refused it, or the status read back differs
    kUnreachable = 6,  // WMI could not be reached, did not answer within the bound, or its connection was lost
    kManaged = 7,      // a change that contradicts the machine's policy: nothing was changed
};

constexpr char kUsageText[] =
    "Usage: pelloranctl [status | on [adapter|battery] | off | mode adapter|battery | apply] [--json]\n"
    "       pelloranctl --help | -h | /? | --version\n"
    "\n"
    "  status        print the state of USB Charging (the command when none is given)\n"
    "  on [MODE]     switch it on in that mode; without one, in the mode this user chose last\n"
    "                (Adapter Mode when none was chosen)\n"
    "  off           switch it off\n"
    "  mode MODE     set the mode and switch it on\n"
    "  apply         put it into the state the machine's policy sets (nothing to do without one)\n"
    "  MODE          adapter (Adapter Mode) or battery (Adapter + Battery Mode)\n"
    "  --json        print one JSON object on one line instead of the text (schema 1)\n"
    "\n"
    "Commands and modes may be written in any case. --help or --version anywhere does only that.\n"
    "After a change the state is read back and checked. on and mode remember the mode for this user,\n"
    "as the dialog does, unless a policy sets the state; run as SYSTEM they remember none, and on\n"
    "needs a mode.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  usage error (unknown command, mode or option)\n"
    "  2  this machine has no such firmware (no management object)\n"
    "  3  no valid status from the firmware\n"
    "  4  access denied: run it from an elevated prompt\n"
    "  5  the change was not applied (the firmware refused it, or the state read back differs)\n"
    "  6  WMI could not be reached, did not answer in time (10 s to read the state, 4.5 s for a\n"
    "     change and its read-back), or the connection to it was lost: try again later\n"
    "  7  managed by policy: the change contradicts the machine's policy, nothing was changed\n";
// The synopsis, its first lines, alone follows a usage error; --help gives it all.
constexpr size_t kSynopsisLength = std::string_view(kUsageText).find("\n\n") + 1;

// What a run asks for.
struct Request {
    enum Command { kStatus, kOn, kOff, kMode, kApply, kHelp, kVersion } command = kStatus;
    int control = -1;  // the control value asked for; -1: on in the stored mode
    bool json = false;
    bool asSystem = false;  // run as LocalSystem: no user's mode is read or stored
    std::string problem;    // a usage error
};

// An argument with its ASCII letters in lower case: commands, modes and options are taken in any case.
std::wstring Lower(std::wstring word) {
    for (wchar_t& c : word)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return word;
}

// The mode a word names: the control value, or -1.
int ControlOfMode(const std::wstring& word) {
    if (word == L"adapter") return PELLORAN_CTRL_ADAPTER;
    if (word == L"battery") return PELLORAN_CTRL_ADAPTER_BATTERY;
    return -1;
}

// Formats into a fixed buffer with the C runtime's own formatter (mingw-w64's printf family is several times the
// size of everything else), never past the buffer's end.
template <size_t N, typename... Args>
void Format(char (&buffer)[N], const char* format, Args... args) {
    ::_snprintf(buffer, N - 1, format, args...);
    buffer[N - 1] = '\0';
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return narrow;
}

// Help or the version, when any argument asks for one (help before the version), else status: wherever they
// stand, they win over every other word, so that a command line that asks for help never acts.
Request::Command InformationAsked(int argc, wchar_t** argv) {
    Request::Command asked = Request::kStatus;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = Lower(argv[i]);
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") return Request::kHelp;
        if (arg == L"--version") asked = Request::kVersion;
    }
    return asked;
}

Request Parse(int argc, wchar_t** argv) {
    Request request;
    request.command = InformationAsked(argc, argv);
    if (request.command != Request::kStatus) return request;
    for (int i = 1; i < argc; ++i) request.json = request.json || Lower(argv[i]) == L"--json";  // wherever it is
    int word = 0;  // the command, then its mode
    for (int i = 1; i < argc && request.problem.empty(); ++i) {
        const std::wstring arg = Lower(argv[i]);
        if (arg == L"--json") {
            continue;
        } else if (!arg.empty() && (arg[0] == L'-' || arg[0] == L'/')) {
            request.problem = "unknown option '" + Narrow(argv[i]) + "'";
        } else if (word == 0) {
            ++word;
            if (arg == L"status") request.command = Request::kStatus;
            else if (arg == L"on") request.command = Request::kOn;
            else if (arg == L"off") request.command = Request::kOff;
            else if (arg == L"mode") request.command = Request::kMode;
            else if (arg == L"apply") request.command = Request::kApply;
            else request.problem = "unknown command '" + Narrow(argv[i]) + "'";
        } else if (word == 1 && (request.command == Request::kOn || request.command == Request::kMode)) {
            ++word;
            request.control = ControlOfMode(arg);
            if (request.control < 0) request.problem = "unknown mode '" + Narrow(argv[i]) + "' (adapter or battery)";
        } else {
            request.problem = "unexpected '" + Narrow(argv[i]) + "'";
        }
    }
    if (request.problem.empty() && request.command == Request::kMode && request.control < 0)
        request.problem = "'mode' needs a mode: adapter or battery";
    if (request.command == Request::kOff) request.control = PELLORAN_CTRL_OFF;
    return request;
}

// Whether the process token's user is LocalSystem, as endpoint management runs its scripts: the hive it has is
// SYSTEM's own, which holds no user's choice of mode. PELLORAN_TEST_AS_SYSTEM=1 makes a run behave so, for the
// tests; it only takes the stored mode away, never grants a right.
bool RunsAsSystem() {
    wchar_t seam[2] = {};
    if (::GetEnvironmentVariableW(L"PELLORAN_TEST_AS_SYSTEM", seam, 2) == 1 && seam[0] == L'1') return true;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    union {
        TOKEN_USER user;
        BYTE room[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];  // the SID follows the structure
    } info;
    DWORD length = 0;
    const bool system = ::GetTokenInformation(token, TokenUser, &info, sizeof(info), &length) &&
                        ::IsWellKnownSid(info.user.User.Sid, WinLocalSystemSid);
    ::CloseHandle(token);
    return system;
}

// Whether the process token is elevated; true when that cannot be told, so that the answer stays the firmware's.
bool RunsElevated() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
    TOKEN_ELEVATION elevation{};
    DWORD length = 0;
    const bool known = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &length);
    ::CloseHandle(token);
    return !known || elevation.TokenIsElevated != 0;
}

// As SYSTEM, on without a mode has no user's choice to fall back on: a usage error that asks for the mode.
void RequireModeAsSystem(Request& request) {
    if (request.asSystem && request.problem.empty() && request.command == Request::kOn && request.control < 0)
        request.problem = "running as SYSTEM, on needs a mode (on adapter or on battery): SYSTEM's own settings "
                          "hold no user's choice";
}

// What the run found, for the line or the JSON object.
struct Outcome {
    Exit exit = kDone;
    HRESULT hresult = S_OK;  // the failing call's code; S_OK when no call failed
    std::string error;
    const FirmwareReading* reading = nullptr;  // the latest reading, when there is one
    int stored = -1;                           // the mode this user chose last: 1, 0, or -1 for none
    UsbChargingPolicy policy;                  // the machine's policy
};

const char* ModeName(int mode) {
    return mode == PELLORAN_CTRL_ADAPTER ? "adapter" : mode == PELLORAN_CTRL_ADAPTER_BATTERY ? "battery" : nullptr;
}

std::string StateText(int mode) {
    if (mode == PELLORAN_CTRL_OFF) return "off";
    if (mode == PELLORAN_CTRL_ADAPTER) return "on, Adapter Mode";
    if (mode == PELLORAN_CTRL_ADAPTER_BATTERY) return "on, Adapter + Battery Mode";
    char line[64];
    Format(line, "on, a mode Pelloran does not know (%d)", mode);
    return line;
}

std::string StateLine(const FirmwareReading& reading) { return StateText(reading.Mode()); }

// ---- The machine's policy ----------------------------------------------------------------------

// The policy in words: "PelloranUsbCharging=3 (on, Adapter + Battery Mode)".
std::string PolicyText(const UsbChargingPolicy& policy) {
    return Narrow(kPolicyValueName) + "=" + std::to_string(policy.raw) + " (" + StateText(policy.control) + ")";
}

// The line printed after the state: what the policy sets, or that its value is ignored; empty without one.
std::string PolicyLine(const UsbChargingPolicy& policy) {
    if (policy.kind == UsbChargingPolicy::kInvalid) return "policy value " + Narrow(kPolicyValueName) + " is invalid and ignored\n";
    return policy.IsSet() ? "managed by policy: " + PolicyText(policy) + "\n" : "";
}

// The policy as the JSON object's field: "off", "adapter", "battery", "invalid" or null.
std::string PolicyJson(const UsbChargingPolicy& policy) {
    if (policy.kind == UsbChargingPolicy::kInvalid) return "\"invalid\"";
    if (!policy.IsSet()) return "null";
    return policy.control == PELLORAN_CTRL_OFF ? "\"off\"" : std::string("\"") + ModeName(policy.control) + "\"";
}

// Squares a command with the machine's policy before the firmware is touched: apply takes the policy's state, and
// on without a mode the policy's mode; a change to another state ends with kManaged, naming the policy.
bool AllowedByPolicy(Request& request, Outcome& outcome) {
    const UsbChargingPolicy& policy = outcome.policy;
    if (request.command == Request::kApply || (request.command == Request::kOn && request.control < 0 && policy.IsSet() &&
                                               policy.control != PELLORAN_CTRL_OFF))
        request.control = policy.control;
    if (!policy.IsSet() || request.command == Request::kStatus || request.control == policy.control) return true;
    outcome.exit = kManaged;
    outcome.error = "USB Charging is managed by policy (" + PolicyText(policy) +
                    "): nothing changed; pelloranctl apply puts it into the policy's state";
    return false;
}

std::string JsonText(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return quoted + "\"";
}

void Print(const Outcome& outcome, bool json) {
    const bool valid = outcome.reading != nullptr && outcome.reading->outcome == FirmwareReading::kStatus;
    if (!outcome.error.empty()) std::fputs(("pelloranctl: " + outcome.error + "\n").c_str(), stderr);
    if (!json) {
        if (outcome.exit == kDone && valid) std::fputs((StateLine(*outcome.reading) + "\n" + PolicyLine(outcome.policy)).c_str(), stdout);
        if (outcome.exit == kDone && outcome.reading == nullptr) std::fputs(outcome.policy.kind == UsbChargingPolicy::kInvalid ? "no policy (the value is invalid)\n" : "no policy\n", stdout);
        return;
    }
    const char* mode = valid ? ModeName(outcome.reading->Mode()) : nullptr;
    const char* stored = outcome.stored < 0 ? nullptr : outcome.stored == 1 ? "adapter" : "battery";
    char status[16] = "null";
    if (outcome.reading != nullptr && outcome.reading->outcome >= FirmwareReading::kNoStatus &&
        SUCCEEDED(outcome.reading->hr))
        Format(status, "\"0x%08X\"", static_cast<unsigned>(outcome.reading->status));
    char hresult[16] = "null";
    if (FAILED(outcome.hresult)) Format(hresult, "\"0x%08X\"", static_cast<unsigned>(outcome.hresult));
    // Schema 1: fields may be added, never removed, renamed or given another type.
    std::fputs(("{\"schema\":1"
                ",\"hresult\":" + std::string(hresult) +
                ",\"policy\":" + PolicyJson(outcome.policy) +
                ",\"exit\":" + std::to_string(outcome.exit) +
                ",\"error\":" + (outcome.error.empty() ? "null" : JsonText(outcome.error)) +
                ",\"present\":" + (valid ? "true" : "false") +
                ",\"on\":" + (!valid ? "null" : outcome.reading->Mode() == PELLORAN_CTRL_OFF ? "false" : "true") +
                ",\"mode\":" + (mode != nullptr ? JsonText(mode) : "null") + ",\"status\":" + status +
                ",\"stored\":" + (stored != nullptr ? JsonText(stored) : "null") + "}\n").c_str(), stdout);
}

bool Denied(HRESULT hr) { return hr == E_ACCESSDENIED || hr == static_cast<HRESULT>(WBEM_E_ACCESS_DENIED); }

// The exit and message for a reading that is no valid status.
Outcome Failed(const FirmwareReading& reading, const char* step) {
    Outcome outcome;
    outcome.hresult = FAILED(reading.hr) ? reading.hr : S_OK;
    char text[200];
    if (Denied(reading.hr)) {
        outcome.exit = kDenied;
        Format(text, "access denied while %s (0x%08X): run pelloranctl from an elevated prompt", step,
                      static_cast<unsigned>(reading.hr));
    } else if (reading.outcome == FirmwareReading::kNotAvailable || LearnedNothing(reading.hr)) {
        outcome.exit = kUnreachable;
        Format(text, reading.hr == static_cast<HRESULT>(WBEM_E_TIMED_OUT) ? "WMI did not answer in time while %s"
                     : ConnectionIsGone(reading.hr) ? "the connection to WMI was lost while %s (0x%08X)"
                                                    : "WMI could not be reached while %s (0x%08X)",
                      step, static_cast<unsigned>(reading.hr));
    } else if (reading.outcome == FirmwareReading::kNoManagementObject && SUCCEEDED(reading.hr) && !RunsElevated()) {
        // WMI may hide the firmware's object from a process that is not elevated: that is no proof of its absence.
        outcome.exit = kDenied;
        Format(text, "no TolvekManagement object is visible to a process that is not elevated: run pelloranctl "
                     "from an elevated prompt");
    } else if (reading.outcome == FirmwareReading::kNoManagementObject) {
        outcome.exit = kNoFirmware;
        Format(text, "this machine has no USB charging firmware (no TolvekManagement object)");
    } else {
        outcome.exit = kNoStatus;
        Format(text, SUCCEEDED(reading.hr) ? "the firmware reported no valid status (0x%08X)"
                                                                 : "the firmware gave no status (0x%08X)",
                      static_cast<unsigned>(SUCCEEDED(reading.hr) ? reading.status : reading.hr));
    }
    outcome.error = text;
    return outcome;
}

// The outcome with the policy it was reached under.
Outcome WithPolicy(Outcome outcome, const UsbChargingPolicy& policy) {
    outcome.policy = policy;
    return outcome;
}

// The mode this user chose last, without writing anything: 1, 0, or -1 when none is stored or when running as
// SYSTEM, whose own settings are no user's.
int StoredMode(const Request& request) {
    int stored = -1;
    return !request.asSystem && PeekModePreference(stored) ? (stored == 1 ? 1 : 0) : -1;
}

// The exit and message for a change that failed: one the firmware refused is not applied (5); one that was not
// answered, or denied, ends as any call that fails so.
Outcome ChangeFailed(HRESULT sent) {
    if (Denied(sent) || LearnedNothing(sent)) {
        FirmwareReading failed;
        failed.outcome = FirmwareReading::kNoStatus;
        failed.hr = sent;
        return Failed(failed, "making the change");
    }
    Outcome outcome;
    char text[96];
    Format(text, "the change was not applied (0x%08X)", static_cast<unsigned>(sent));
    outcome.exit = kNotApplied;
    outcome.hresult = sent;
    outcome.error = text;
    return outcome;
}

// The firmware's state, and for a change the change with its read-back, as the outcome to print.
Outcome Run(Request request, FirmwareReading& reading) {
    const UsbChargingPolicy policy = ReadUsbChargingPolicy();
    Outcome outcome = WithPolicy(Outcome(), policy);
    if (!AllowedByPolicy(request, outcome)) return outcome;
    if (request.command == Request::kApply && !policy.IsSet()) return outcome;  // nothing to do: "no policy"
    // The connection, the query and the status share the start's bound, as in the dialog.
    reading = ReadFirmwareAtStart(Deadline(kStartupBoundMs));
    if (reading.outcome != FirmwareReading::kStatus) return WithPolicy(Failed(reading, "reading the state"), policy);
    outcome.reading = &reading;
    if (request.command == Request::kStatus) return outcome;
    if (request.command == Request::kApply && reading.Mode() == request.control) return outcome;  // in that state already

    int control = request.control;
    if (control < 0) control = StoredMode(request) == 0 ? PELLORAN_CTRL_ADAPTER_BATTERY : PELLORAN_CTRL_ADAPTER;
    // The change and its read-back share a click's bound, as in the dialog, each within a call's.
    const Deadline change(kClickBoundMs);
    const HRESULT sent = SetDeviceControl(control, change.Sooner(kFirmwareBoundMs));
    const int asked = control;
    reading = ReadFirmwareStatus(change.Sooner(kFirmwareBoundMs));
    if (FAILED(sent)) {
        outcome = ChangeFailed(sent);
    } else if (reading.outcome != FirmwareReading::kStatus) {
        outcome = Failed(reading, "reading the state back");
    } else if (reading.Mode() != asked) {
        outcome.exit = kNotApplied;
        outcome.error = "the change was not applied: the firmware now reports " + StateLine(reading);
    } else if (asked != PELLORAN_CTRL_OFF && !request.asSystem && !policy.IsSet()) {  // a policy's state is no user's choice
        int adapterOnly = asked == PELLORAN_CTRL_ADAPTER ? 1 : 0;  // stored as the dialog stores it
        AccessModePreference(MODE_PREFERENCE_WRITE, adapterOnly);
    }
    outcome.reading = &reading;
    return WithPolicy(outcome, policy);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    AfxHardenDllSearch();
    Request request = Parse(argc, argv);
    if (request.command == Request::kHelp) {
        std::fputs(kUsageText, stdout);
        return kDone;
    }
    if (request.command == Request::kVersion) {
        std::fputs("pelloranctl " PELLORAN_VERSION_TEXT "\n", stdout);
        return kDone;
    }
    request.asSystem = RunsAsSystem();
    RequireModeAsSystem(request);
    if (!request.problem.empty()) {
        Outcome usage;
        usage.exit = kUsage;
        usage.error = request.problem;
        usage.stored = StoredMode(request);
        usage.policy = ReadUsbChargingPolicy();
        Print(usage, request.json);
        std::fwrite(kUsageText, 1, kSynopsisLength, stderr);
        std::fputs("Run pelloranctl --help for the commands and exit codes.\n", stderr);
        return kUsage;
    }

    const bool comJoined = InitComSecurity();
    g_pWmiClient = new (std::nothrow) WmiClient();
    FirmwareReading reading;
    Outcome outcome;
    if (g_pWmiClient != nullptr) {
        outcome = Run(request, reading);
    } else {
        outcome.exit = kUnreachable;
        outcome.error = "out of memory";
    }
    outcome.stored = StoredMode(request);  // whatever happened, as a failure leaves it
    Print(outcome, request.json);
    std::fflush(stdout);
    ReleaseWmiObjects();  // COM objects go before COM ends
    if (comJoined) ::CoUninitialize();
    return outcome.exit;
}
