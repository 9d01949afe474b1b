// pelloranctl as a script runs it: under Wine against the firmware simulator, every command in each state of the
// feature (the calls made, the state after, the line or the JSON object, read by a real JSON parser, the exit code
// and the mode stored), each way it fails with its exit code, and under each policy.
#include "res/version.h"
#include "tests/support/Files.h"
#include "tests/support/Processes.h"
#include "tests/support/SimRun.h"
#include "tests/support/StoredMode.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

using namespace testsupport;
using nlohmann::json;
using nlohmann::ordered_json;

namespace {

constexpr DWORD kAllowMs = 4 * (10000 + 3000 + 3000);  // several times the start's bound, a change's and a read-back's
constexpr int kNothing = -1;                           // no stored mode
const Stored kNoValue{REG_NONE, ""};

// The JSON object checked against the README's table of schema 1: every field in its order and of its type, null
// exactly where the table says, the state consistent with the status word, on one line. The object, for further
// checks.
json ExpectContract(const std::string& out, DWORD exit) {
    const ordered_json object = ordered_json::parse(out, nullptr, false);
    EXPECT_FALSE(object.is_discarded()) << out;
    if (object.is_discarded()) return json();
    std::vector<std::string> fields;
    for (const auto& field : object.items()) fields.push_back(field.key());
    EXPECT_EQ(fields, (std::vector<std::string>{"schema", "hresult", "policy", "exit", "error", "present", "on", "mode", "status", "stored"}));
    const std::regex word("0x[0-9A-F]{8}");
    EXPECT_EQ(object["schema"], 1);
    EXPECT_EQ(object["exit"], exit);
    EXPECT_EQ(object["error"].is_null(), exit == 0) << out;
    EXPECT_TRUE(object["hresult"].is_null() || (exit > 1 && std::regex_match(object["hresult"].get<std::string>(), word) &&
                                                object["hresult"].get<std::string>()[2] >= '8')) << out;
    const bool present = object["present"].get<bool>();
    EXPECT_TRUE(object["status"].is_null() || std::regex_match(object["status"].get<std::string>(), word)) << out;
    const int status = object["status"].is_null() ? 0 : std::stoi(object["status"].get<std::string>(), nullptr, 16);
    EXPECT_EQ(present, (status & 0x10000) != 0) << out;
    EXPECT_EQ(object["on"], present ? ordered_json((status & 0xFF) != 0) : ordered_json()) << out;
    const int mode = status & 0xFF;
    EXPECT_EQ(object["mode"], present && mode == 1 ? ordered_json("adapter") : present && mode == 3 ? ordered_json("battery") : ordered_json()) << out;
    EXPECT_TRUE(object["stored"].is_null() || object["stored"] == "adapter" || object["stored"] == "battery") << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line";
    return json::parse(out);
}

// The line of a state: the status word the firmware reports ("?" for a word no test expects).
std::string StateLine(int status) {
    return status == 0x10000 ? "off" : status == 0x10001 ? "on, Adapter Mode" : status == 0x10003 ? "on, Adapter + Battery Mode" : "?";
}

// A run of pelloranctl, how it is set up and what it must do. What it says is all of standard output when it succeeds
// (with --json, the line of the state that the object's status word reports; not checked when empty), and part of
// standard error when it fails (then standard output is empty, or with --json holds the object with the same error).
// The object's stored field is the mode stored after the run (null as SYSTEM).
struct Row {
    std::wstring args;
    std::string scenario = "";
    Stored policy = kNoValue;
    int stored = 1;         // the mode stored before the run: 1 Adapter Mode, 0 Adapter + Battery Mode
    bool asSystem = false;  // run as SYSTEM
    DWORD exit = 0;
    std::vector<int> sent = {};  // the control values sent to the firmware
    std::string says = "";
    int stores = kNothing;              // the mode the run stores; kNothing: the stored one stays as it was
    const char* hresult = nullptr;      // the object's hresult field; null: none
    const char* policyField = nullptr;  // the object's policy field; null: none
    bool asks = true;  // whether it asks the firmware at all (never after a usage error, nor for a change a policy forbids)
};

class CtlTest : public ::testing::Test {
protected:
    void TearDown() override {
        Store(kNoValue);
        ::SetEnvironmentVariableW(L"PELLORAN_TEST_AS_SYSTEM", nullptr);
        StorePolicy(kNoValue);
    }

    // Runs pelloranctl (this build's unless another program is named; with a token, as its user) as the row says and
    // checks all that the row expects; its output, for further checks.
    Captured Expect(const Row& r, HANDLE token = nullptr, const std::wstring& program = WinPath(PELLORAN_CTL_PATH)) {
        SCOPED_TRACE(std::string(r.args.begin(), r.args.end()) + " in " + r.scenario);
        static int runs = 0;  // a fresh run of the simulator, with the scenario, the stored mode and the policy given
        const SimRun run(FreshFolder("ctl-" + std::to_string(++runs)));
        run.Scenario(r.scenario);
        Store(r.stored >= 0 ? Dword(static_cast<DWORD>(r.stored)) : kNoValue);
        StorePolicy(r.policy);
        ::SetEnvironmentVariableW(L"PELLORAN_TEST_AS_SYSTEM", r.asSystem ? L"1" : nullptr);
        const Captured ctl = RunCaptured(L"\"" + program + L"\" " + r.args, run.folder, kAllowMs, token);
        const int after = r.stores != kNothing ? r.stores : r.stored;
        EXPECT_EQ(ctl.exit, r.exit) << ctl.err;
        EXPECT_EQ(run.ControlValues(), r.sent);
        EXPECT_EQ(ReadStored(), after != kNothing ? Dword(static_cast<DWORD>(after)) : kNoValue) << "the mode stored";
        EXPECT_EQ(run.Log("Locator").empty(), !r.asks || r.exit == 1 || r.exit == 7) << "the firmware asked";
        EXPECT_EQ(ctl.err.find("Usage:") != std::string::npos, r.exit == 1) << "the usage after a usage error";
        if (r.exit != 0) { EXPECT_NE(ctl.err.find(r.says), std::string::npos) << ctl.err; }
        if (r.args.find(L"--json") == std::wstring::npos) {
            if (r.exit != 0 || !r.says.empty()) { EXPECT_EQ(ctl.out, r.exit == 0 ? r.says : ""); }
            return ctl;
        }
        json object = ExpectContract(ctl.out, r.exit);
        const std::string said = r.exit != 0 ? object["error"].get<std::string>()
                                              : StateLine(std::stoi(object["status"].get<std::string>(), nullptr, 16)) + "\r\n";
        EXPECT_NE(said.find(r.says), std::string::npos) << said;
        EXPECT_EQ(object["hresult"], r.hresult != nullptr ? json(r.hresult) : json());
        EXPECT_EQ(object["policy"], r.policyField != nullptr ? json(r.policyField) : json());
        EXPECT_EQ(object["stored"], after == kNothing || r.asSystem ? json() : json(after == 1 ? "adapter" : "battery"));
        return ctl;
    }
};

// Every command in every state of the feature, once as text and once as JSON: the value sent, the state read back,
// what it says and the mode it stores (on and mode store theirs; without a mode, on takes the stored one, Adapter
// Mode when there is none).
TEST_F(CtlTest, EveryCommandInEveryState) {
    const std::pair<const wchar_t*, int> commands[] = {{L"status", -1}, {L"on", 1}, {L"on adapter", 1}, {L"on battery", 3},
                                                       {L"off", 0}, {L"mode adapter", 1}, {L"mode battery", 3}, {L"", -1}};
    for (int state : {0x10000, 0x10001, 0x10003}) {
        for (const auto& [command, control] : commands) {
            for (const std::wstring form : {L"", L" --json"}) {
                const int after = control < 0 ? state : 0x10000 | control;  // the state read back
                Expect({.args = command + form, .scenario = "InitialStatus=" + std::to_string(state), .stored = kNothing,
                        .sent = control < 0 ? std::vector<int>{} : std::vector<int>{control},
                        .says = StateLine(after) + "\r\n", .stores = control > 0 ? (control == 1 ? 1 : 0) : kNothing});
            }
        }
    }
}

// Every other kind of command line: the exit code and what it says (every exit code, as text or as JSON and most as
// both, with the failing call's code), the calls made, and the mode stored (read whatever failed, stored by no failure).
TEST_F(CtlTest, EachCommandLine) {
    const Stored invalid = Dword(2), wrongType{REG_BINARY, std::string("\1\0\0\0", 4)};
    const std::string off = "off\r\n", adapter = "on, Adapter Mode\r\n", battery = "on, Adapter + Battery Mode\r\n";
    const std::string by0 = "managed by policy: PelloranUsbCharging=0 (off)\r\n", ignored = "policy value PelloranUsbCharging is invalid and ignored\r\n";
    const std::string by3 = "managed by policy: PelloranUsbCharging=3 (on, Adapter + Battery Mode)\r\n";
    const Row rows[] = {
        // A cold machine: the first call 5 s late, within the start's bound, as for the dialog.
        {.args = L"status", .scenario = "Answers.*=@5000;InitialStatus=0x10001", .says = adapter},
        {.args = L"on", .stored = 0, .sent = {3}, .says = battery},  // in the mode this user chose last
        {.args = L"status --json", .scenario = "Instances=0", .exit = 2, .says = "no USB charging firmware"},
        {.args = L"status --json", .scenario = "StatusWord=0x1", .exit = 3, .says = "no valid status (0x00000001)"},
        {.args = L"status", .scenario = "Answers.device_status=WBEM_E_INVALID_METHOD", .exit = 3, .says = "gave no status"},
        {.args = L"status --json", .scenario = "Answers.ConnectServer=E_ACCESSDENIED", .exit = 4, .says = "elevated prompt", .hresult = "0x80070005"},
        {.args = L"on battery", .scenario = "Answers.device_ctrl=WBEM_E_ACCESS_DENIED", .exit = 4, .sent = {3}, .says = "elevated prompt"},
        {.args = L"off --json", .scenario = "Answers.device_ctrl=WBEM_E_INVALID_PARAMETER", .exit = 5, .sent = {0},
         .says = "not applied (0x80041008)", .hresult = "0x80041008"},
        {.args = L"mode battery", .scenario = "StatusWord=0x10002", .exit = 5, .sent = {3},
         .says = "now reports on, a mode Pelloran does not know (2)"},
        {.args = L"status", .scenario = "Answers.ConnectServer=never", .exit = 6, .says = "WMI did not answer in time"},
        {.args = L"status --json", .scenario = "Answers.device_status=never", .exit = 6, .says = "did not answer in time", .hresult = "0x80041069"},
        {.args = L"on adapter", .scenario = "Answers.device_ctrl=never", .exit = 6, .sent = {1},
         .says = "did not answer in time while making the change"},
        {.args = L"on adapter --json", .scenario = "Answers.device_ctrl=RPC_E_DISCONNECTED", .exit = 6, .sent = {1},
         .says = "lost while making the change", .hresult = "0x80010108"},
        {.args = L"off", .scenario = "Answers.device_status=@0,WBEM_E_SHUTTING_DOWN", .exit = 6, .sent = {0},
         .says = "lost while reading the state back"},
        {.args = L"frob --json", .exit = 1, .says = "unknown command 'frob'"},
        {.args = L"on fast", .exit = 1, .says = "unknown mode 'fast'"},
        {.args = L"status --quiet --json", .exit = 1, .says = "unknown option '--quiet'"},
        {.args = L"mode", .exit = 1, .says = "'mode' needs a mode"},
        {.args = L"off now --json", .exit = 1, .says = "unexpected 'now'"},
        // Help (checked below) and the version win wherever they stand and do nothing else, help before the version;
        // commands and modes are taken in any case.
        {.args = L"--help", .asks = false}, {.args = L"--help off", .asks = false}, {.args = L"off --help", .asks = false},
        {.args = L"on battery /?", .asks = false}, {.args = L"-H mode adapter", .asks = false},
        {.args = L"--version --help", .asks = false},
        {.args = L"off --version", .says = "pelloranctl " PELLORAN_VERSION_TEXT "\r\n", .asks = false},
        {.args = L"MODE Battery", .sent = {3}, .says = battery, .stores = 0},
        // As SYSTEM no user's mode is read or stored: on needs a mode, on with one stores none, and stored is null.
        {.args = L"on --json", .stored = 0, .asSystem = true, .exit = 1, .says = "needs a mode"},
        {.args = L"on adapter --json", .stored = 0, .asSystem = true, .sent = {1}},
        // Under each policy value, and values that are none: status names it, apply puts the firmware into its state
        // and reads it back, a change that contradicts it ends with 7 before the firmware is asked, one that agrees
        // goes through; none stores a mode.
        {.args = L"status", .scenario = "InitialStatus=0x10003", .policy = Dword(0), .says = battery + by0},
        {.args = L"status", .policy = invalid, .says = off + ignored},
        {.args = L"status --json", .policy = Dword(0), .policyField = "off"},
        {.args = L"status --json", .policy = wrongType, .policyField = "invalid"},
        {.args = L"status --json"},
        {.args = L"apply", .scenario = "InitialStatus=0x10003", .policy = Dword(0), .sent = {0}, .says = off + by0},
        {.args = L"apply --json", .scenario = "InitialStatus=0x10001", .policy = Dword(3), .sent = {3}, .policyField = "battery"},
        {.args = L"apply", .scenario = "InitialStatus=0x10003", .policy = Dword(3), .says = battery + by3},
        {.args = L"apply", .says = "no policy\r\n", .asks = false},
        {.args = L"apply", .policy = invalid, .says = "no policy (the value is invalid)\r\n", .asks = false},
        {.args = L"on battery", .policy = Dword(0), .exit = 7,
         .says = "managed by policy (PelloranUsbCharging=0 (off)): nothing changed; pelloranctl apply"},
        {.args = L"mode battery --json", .policy = Dword(1), .exit = 7, .says = "PelloranUsbCharging=1 (on, Adapter Mode)", .policyField = "adapter"},
        {.args = L"off", .scenario = "InitialStatus=0x10003", .policy = Dword(3), .exit = 7, .says = "PelloranUsbCharging=3"},
        {.args = L"on", .policy = Dword(3), .sent = {3}, .says = battery + by3},
        {.args = L"on battery", .policy = wrongType, .sent = {3}, .says = battery + ignored, .stores = 0},
    };
    for (const Row& row : rows) {
        const Captured ctl = Expect(row);
        const bool help = row.says.empty() && !row.asks;  // then the usage with its exit codes, wherever --help stands
        EXPECT_TRUE(!help || (ctl.out.rfind("Usage:", 0) == 0 && ctl.out.find("  7  managed by policy") != std::string::npos)) << ctl.out;
    }
}

// Not elevated, an empty enumeration is no proof that the firmware is missing: WMI may hide it, so it ends as access
// denied; a class that WMI does not know is missing all the same. Run with the limited token linked to the test's own
// (Wine starts the test elevated, a limited token linked to it).
TEST_F(CtlTest, NotElevatedAnEmptyEnumerationIsAccessDenied) {
    HANDLE own = nullptr, primary = nullptr;
    TOKEN_LINKED_TOKEN linked{};
    DWORD length = 0;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &own));
    const bool found = ::GetTokenInformation(own, TokenLinkedToken, &linked, sizeof(linked), &length);
    ::CloseHandle(own);
    ASSERT_TRUE(found) << ::GetLastError();
    ASSERT_TRUE(::DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary));
    ::CloseHandle(linked.LinkedToken);
    Expect({.args = L"status --json", .scenario = "Instances=0", .exit = 4, .says = "not elevated"}, primary);
    Expect({.args = L"status --json", .scenario = "Answers.ExecQuery=WBEM_E_INVALID_CLASS", .exit = 2,
            .says = "no USB charging firmware", .hresult = "0x80041010"}, primary);
    ::CloseHandle(primary);
}

// The shipped start-up script, beside pelloranctl, run by cmd: it applies the policy and ends with apply's exit code.
TEST_F(CtlTest, StartUpScriptPassesOnApplysExitCode) {
    const std::wstring folder = FreshFolder("startup-script");
    ::CopyFileW(WinPath(PELLORAN_CTL_PATH).c_str(), (folder + L"\\pelloranctl.exe").c_str(), FALSE);
    ::CopyFileW(WinPath(PELLORAN_SOURCE_DIR "/packaging/scripts/Apply-UsbChargingPolicy.cmd").c_str(),
                (folder + L"\\Apply-UsbChargingPolicy.cmd").c_str(), FALSE);
    Expect({.args = L"/c \"" + folder + L"\\Apply-UsbChargingPolicy.cmd\"", .scenario = "Answers.device_ctrl=WBEM_E_INVALID_PARAMETER",
            .policy = Dword(3), .exit = 5, .sent = {3}, .says = "not applied"}, nullptr, L"cmd.exe");
}

// A 64-bit Group Policy client's value, read by the 32-bit program on 64-bit Windows (the x64 flavour, where the
// 32-bit build exists): the key is shared between the registry's two views.
TEST_F(CtlTest, The32BitProgramReadsThe64BitView) {
    const char* x86 = std::getenv("PELLORAN_X86_CTL");
    if (x86 == nullptr || ::GetFileAttributesW(WinPath(x86).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no 32-bit build beside this 64-bit one";
    Expect({.args = L"on battery --json", .policy = Dword(0), .exit = 7, .says = "PelloranUsbCharging=0 (off)",
            .policyField = "off"}, nullptr, WinPath(x86));  // the policy written through the 64-bit view
}

}  // namespace
