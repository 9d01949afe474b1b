// pelloranctl as a script runs it: under Wine against the firmware simulator, every command in each state of the
// feature (the calls made, the state after, the line or the JSON object, read by a real JSON parser, the exit code
// and the mode stored), each way it fails with its exit code, and a status read while the dialog is open.
#include "res/version.h"
#include "tests/driver/DialogWindows.h"
#include "tests/support/Files.h"
#include "tests/support/Processes.h"
#include "tests/support/SimRun.h"
#include "tests/support/StoredMode.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <regex>
#include <set>

using namespace testsupport;
using nlohmann::json;
using nlohmann::ordered_json;

namespace {

constexpr DWORD kAllowMs = 4 * (10000 + 3000 + 3000);  // several times the start's bound, a change's and a read-back's
constexpr int kNothing = -1;                           // no stored mode

using Ctl = Captured;

// Runs pelloranctl with the arguments, its output going to files of the run's folder; with a token, as its user.
Ctl RunCtl(const SimRun& run, const std::wstring& arguments, HANDLE token = nullptr) {
    return RunCaptured(L"\"" + WinPath(PELLORAN_CTL_PATH) + L"\" " + arguments, run.folder, kAllowMs, token);
}

// The JSON object checked against the README's table of schema 1: every field in its order and of its type, null
// exactly where the table says, the state consistent with the status word. The object, for further checks.
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
    return json::parse(out);
}

// The line and the JSON fields of a state: the status word the firmware reports.
std::string StateLine(int status) {
    const int mode = status & 0xFF;
    return mode == 0 ? "off" : mode == 1 ? "on, Adapter Mode" : "on, Adapter + Battery Mode";
}

class CtlTest : public ::testing::Test {
protected:
    // A fresh run of the simulator with the scenario, the feature in the state, the stored mode given.
    SimRun& Fresh(const std::string& scenario, int stored) {
        static int runs = 0;
        m_run = std::make_unique<SimRun>(FreshFolder("ctl-" + std::to_string(++runs)));
        m_run->Scenario(scenario);
        Store(stored >= 0 ? Dword(static_cast<DWORD>(stored)) : Stored{REG_NONE, ""});
        return *m_run;
    }
    void TearDown() override {
        Store({REG_NONE, ""});
        ::SetEnvironmentVariableW(L"PELLORAN_TEST_AS_SYSTEM", nullptr);
        StorePolicy({REG_NONE, ""});
    }

    // The firmware's state word after the run, from the state file it keeps (the initial one while it has none).
    int StateAfter(int initial) const {
        wchar_t text[32] = {};
        ::GetPrivateProfileStringW(L"Firmware", L"StatusWord", L"", text, 32, (m_run->folder + L"\\state.ini").c_str());
        return text[0] != L'\0' ? static_cast<int>(std::wcstol(text, nullptr, 0)) : initial;
    }

    std::unique_ptr<SimRun> m_run;
};

// Every command in every state of the feature, once as text and once as JSON: the value sent, the state after,
// what it says and the mode it stores (on and mode store theirs; without a mode, on takes the stored one, Adapter
// Mode when there is none).
TEST_F(CtlTest, EveryCommandInEveryState) {
    const std::pair<const char*, int> commands[] = {{"status", -1}, {"on", 1}, {"on adapter", 1}, {"on battery", 3},
                                                    {"off", 0}, {"mode adapter", 1}, {"mode battery", 3}, {"", -1}};
    for (int state : {0x10000, 0x10001, 0x10003}) {
        for (const auto& [command, control] : commands) {
            for (const bool asJson : {false, true}) {
                SCOPED_TRACE(std::string(command) + (asJson ? " --json" : "") + " in state " + std::to_string(state));
                Fresh("InitialStatus=" + std::to_string(state), kNothing);
                const std::string arguments = std::string(command) + (asJson ? " --json" : "");
                const Ctl ctl = RunCtl(*m_run, std::wstring(arguments.begin(), arguments.end()));
                const int after = control < 0 ? state : 0x10000 | control;
                EXPECT_EQ(ctl.exit, 0u);
                EXPECT_EQ(ctl.err, "");
                EXPECT_EQ(m_run->ControlValues(), (control < 0 ? std::vector<int>{} : std::vector<int>{control}));
                EXPECT_EQ(StateAfter(state), after);
                const bool stores = control > 0;
                EXPECT_EQ(ReadStored(), (stores ? Dword(control == 1 ? 1 : 0) : Stored{REG_NONE, ""}));
                if (!asJson) {
                    EXPECT_EQ(ctl.out, StateLine(after) + "\r\n");
                    continue;
                }
                const json object = ExpectContract(ctl.out, 0);
                EXPECT_TRUE(object["hresult"].is_null());
                EXPECT_EQ(object["present"], true);
                EXPECT_EQ(object["on"], (after & 0xFF) != 0);
                EXPECT_EQ(object["mode"], (after & 0xFF) == 1 ? json("adapter") : (after & 0xFF) == 3 ? json("battery") : json());
                char status[16];
                std::snprintf(status, sizeof(status), "0x%08X", after);
                EXPECT_EQ(object["status"], status);
                EXPECT_EQ(object["stored"], stores ? json(control == 1 ? "adapter" : "battery") : json());
                EXPECT_EQ(ctl.out.find('\n'), ctl.out.size() - 1) << "one line";
            }
        }
    }
}

// A cold machine: the first call 5 s late, within the start's bound, as for the dialog.
TEST_F(CtlTest, WaitsForAColdStartAsTheDialogDoes) {
    Fresh("Answers.*=@5000;InitialStatus=0x10001", kNothing);
    const Ctl ctl = RunCtl(*m_run, L"status");
    EXPECT_EQ(ctl.exit, 0u) << ctl.err;
    EXPECT_EQ(ctl.out, "on, Adapter Mode\r\n");
}

// on without a mode takes the mode this user chose last; off leaves it as it was.
TEST_F(CtlTest, OnTakesTheStoredModeAndOffKeepsIt) {
    Fresh("", 0);
    EXPECT_EQ(RunCtl(*m_run, L"on").exit, 0u);
    EXPECT_EQ(m_run->ControlValues(), std::vector<int>{3});
    EXPECT_EQ(RunCtl(*m_run, L"off").exit, 0u);
    EXPECT_EQ(ReadStored(), Dword(0));
}

// Each way it fails: the exit code, what it says on standard error, and, alternately, nothing on standard output as
// text or the JSON object of the contract, with the same exit code and message, the failing call's code and the
// mode stored (read whatever failed). Every exit code is seen as JSON at least once.
TEST_F(CtlTest, EachFailureHasItsExitCode) {
    struct Failure {
        const char* scenario;
        const wchar_t* arguments;
        DWORD exit;
        const char* says;
        const char* hresult;  // in the JSON object; null: none
        std::vector<int> sent;
    };
    const Failure failures[] = {
        {"Instances=0", L"status", 2, "no USB charging firmware", nullptr, {}},
        {"Answers.ExecQuery=WBEM_E_INVALID_CLASS", L"status", 2, "no USB charging firmware", "0x80041010", {}},
        {"StatusWord=0x1", L"status", 3, "no valid status (0x00000001)", nullptr, {}},
        {"Answers.device_status=WBEM_E_INVALID_METHOD", L"status", 3, "gave no status", "0x8004102E", {}},
        {"Answers.ConnectServer=E_ACCESSDENIED", L"status", 4, "elevated prompt", "0x80070005", {}},
        {"Answers.device_ctrl=WBEM_E_ACCESS_DENIED", L"on battery", 4, "elevated prompt", "0x80041003", {3}},
        {"Answers.device_ctrl=WBEM_E_INVALID_PARAMETER", L"off", 5, "not applied (0x80041008)", "0x80041008", {0}},
        {"StatusWord=0x10000", L"mode battery", 5, "the firmware now reports off", nullptr, {3}},
        {"StatusWord=0x10002", L"mode battery", 5, "now reports on, a mode Pelloran does not know (2)", nullptr, {3}},
        {"Answers.ConnectServer=never", L"status", 6, "WMI did not answer in time", "0x80041069", {}},
        {"Answers.device_status=never", L"status", 6, "did not answer in time", "0x80041069", {}},
        {"Answers.device_ctrl=never", L"on adapter", 6, "did not answer in time while making the change", "0x80041069", {1}},
        {"Answers.device_ctrl=RPC_E_DISCONNECTED", L"on adapter", 6, "connection to WMI was lost while making the change",
         "0x80010108", {1}},
        {"Answers.device_status=@0,WBEM_E_SHUTTING_DOWN", L"off", 6, "connection to WMI was lost while reading the state back",
         "0x80041033", {0}},
        {"", L"frob", 1, "unknown command 'frob'", nullptr, {}},
        {"", L"on fast", 1, "unknown mode 'fast'", nullptr, {}},
        {"", L"status --quiet", 1, "unknown option '--quiet'", nullptr, {}},
        {"", L"mode", 1, "'mode' needs a mode", nullptr, {}},
        {"", L"off now", 1, "unexpected 'now'", nullptr, {}},
    };
    bool asJson = false;  // the failures alternate between the two forms of output
    std::set<DWORD> seenAsJson;
    for (const Failure& failure : failures) {
        asJson = !asJson;
        SCOPED_TRACE(std::string(failure.says) + (asJson ? " (json)" : ""));
        Fresh(failure.scenario, 1);
        const Ctl ctl = RunCtl(*m_run, std::wstring(failure.arguments) + (asJson ? L" --json" : L""));
        EXPECT_EQ(ctl.exit, failure.exit);
        EXPECT_NE(ctl.err.find(failure.says), std::string::npos) << ctl.err;
        EXPECT_EQ(ctl.err.find("Usage:") != std::string::npos, failure.exit == 1) << "the usage after a usage error";
        EXPECT_EQ(m_run->ControlValues(), failure.sent);
        EXPECT_EQ(ReadStored(), Dword(1)) << "a failure stores nothing";
        if (asJson) {
            seenAsJson.insert(failure.exit);
            const json object = ExpectContract(ctl.out, failure.exit);
            EXPECT_NE(object["error"].get<std::string>().find(failure.says), std::string::npos);
            EXPECT_EQ(object["hresult"], failure.hresult != nullptr ? json(failure.hresult) : json());
            EXPECT_EQ(object["stored"], "adapter");
        } else {
            EXPECT_EQ(ctl.out, "");
        }
    }
    EXPECT_EQ(seenAsJson, (std::set<DWORD>{1, 2, 3, 4, 5, 6}));
}

// Help and the version win wherever they stand and do nothing else (help before the version); commands and modes
// are taken in any case.
TEST_F(CtlTest, ArgumentsInAnyOrderAndCase) {
    enum Says { kHelp, kVersion, kState };
    struct Row {
        const wchar_t* arguments;
        Says says;
        std::vector<int> sent;
    };
    const Row rows[] = {
        {L"--help", kHelp, {}},          {L"--help off", kHelp, {}},        {L"off --help", kHelp, {}},
        {L"on battery /?", kHelp, {}},   {L"-H mode adapter", kHelp, {}},   {L"--version --help", kHelp, {}},
        {L"off --version", kVersion, {}}, {L"OFF", kState, {0}},           {L"Mode Battery", kState, {3}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.arguments, row.arguments + std::wcslen(row.arguments)));
        Fresh("InitialStatus=0x10001", kNothing);
        const Ctl ctl = RunCtl(*m_run, row.arguments);
        EXPECT_EQ(ctl.exit, 0u) << ctl.err;
        EXPECT_EQ(m_run->ControlValues(), row.sent);
        const std::string version = "pelloranctl " + std::string(PELLORAN_VERSION_TEXT) + "\r\n";
        if (row.says == kHelp) {
            EXPECT_EQ(ctl.out.rfind("Usage:", 0), 0u) << ctl.out;
            EXPECT_NE(ctl.out.find("  apply "), std::string::npos);
            EXPECT_NE(ctl.out.find("  7  managed by policy"), std::string::npos);
        } else {
            EXPECT_EQ(ctl.out, row.says == kVersion ? version : StateLine(0x10000 | row.sent[0]) + "\r\n");
        }
        EXPECT_EQ(m_run->Log("Locator").empty(), row.says != kState) << "the firmware asked only for a command";
    }
}

// As SYSTEM no user's mode is read or stored: on needs a mode, on and mode store none, and stored is null.
TEST_F(CtlTest, AsSystemNoModeIsStored) {
    struct Row {
        const wchar_t* arguments;
        DWORD exit;
        std::vector<int> sent;
    };
    const Row rows[] = {{L"on --json", 1, {}}, {L"on adapter --json", 0, {1}}, {L"mode adapter --json", 0, {1}}};
    ::SetEnvironmentVariableW(L"PELLORAN_TEST_AS_SYSTEM", L"1");
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.arguments, row.arguments + std::wcslen(row.arguments)));
        Fresh("InitialStatus=0x10003", 0);
        const Ctl ctl = RunCtl(*m_run, row.arguments);
        EXPECT_EQ(m_run->ControlValues(), row.sent);
        EXPECT_EQ(ReadStored(), Dword(0)) << "the stored mode left as it was";
        EXPECT_TRUE(ExpectContract(ctl.out, row.exit)["stored"].is_null()) << ctl.out;
        EXPECT_EQ(ctl.err.find("needs a mode") != std::string::npos, row.exit == 1) << ctl.err;
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
    for (const auto& [scenario, exit] : {std::pair<const char*, DWORD>{"Instances=0", 4}, {"Answers.ExecQuery=WBEM_E_INVALID_CLASS", 2}}) {
        SCOPED_TRACE(scenario);
        Fresh(scenario, 1);
        const Ctl ctl = RunCtl(*m_run, L"status --json", primary);
        EXPECT_EQ(ctl.exit, exit) << ctl.err;
        EXPECT_EQ(ctl.err.find("not elevated") != std::string::npos, exit == 4) << ctl.err;
        EXPECT_EQ(ExpectContract(ctl.out, exit)["stored"], "adapter");
    }
    ::CloseHandle(primary);
}

// Under each policy value, and values that are none: status names it (in the JSON object first), apply puts the
// firmware into its state and reads it back, a change that contradicts it ends with 7 before the firmware is asked,
// one that agrees goes through; none stores a mode.
TEST_F(CtlTest, UnderEachPolicy) {
    struct Case {
        Stored policy;
        std::string scenario;
        const wchar_t* arguments;
        DWORD exit;
        std::vector<int> sent;
        std::string says;  // on standard output, or on standard error for a failure
        const char* json;  // the JSON object's policy field, when the case is run with --json
    };
    const Stored invalid = Dword(2), wrongType{REG_BINARY, std::string("\1\0\0\0", 4)};
    const Case cases[] = {
        {Dword(0), "InitialStatus=0x10003", L"status", 0, {}, "on, Adapter + Battery Mode\r\nmanaged by policy: PelloranUsbCharging=0 (off)\r\n"},
        {Dword(1), "InitialStatus=0x10000", L"status", 0, {}, "off\r\nmanaged by policy: PelloranUsbCharging=1 (on, Adapter Mode)\r\n"},
        {Dword(3), "InitialStatus=0x10001", L"status", 0, {}, "managed by policy: PelloranUsbCharging=3 (on, Adapter + Battery Mode)\r\n"},
        {invalid, "", L"status", 0, {}, "off\r\npolicy value PelloranUsbCharging is invalid and ignored\r\n"},
        {Dword(0), "", L"status --json", 0, {}, "", "off"},
        {Dword(1), "", L"status --json", 0, {}, "", "adapter"},
        {Dword(3), "", L"status --json", 0, {}, "", "battery"},
        {wrongType, "", L"status --json", 0, {}, "", "invalid"},
        {{REG_NONE, ""}, "", L"status --json", 0, {}, "", nullptr},
        {Dword(0), "InitialStatus=0x10003", L"apply", 0, {0}, "off\r\nmanaged by policy"},
        {Dword(1), "InitialStatus=0x10000", L"apply", 0, {1}, "on, Adapter Mode\r\nmanaged by policy"},
        {Dword(3), "InitialStatus=0x10001", L"apply --json", 0, {3}, "", "battery"},
        {Dword(3), "InitialStatus=0x10003", L"apply", 0, {}, "on, Adapter + Battery Mode\r\n"},
        {Dword(1), "Answers.device_ctrl=WBEM_E_INVALID_PARAMETER", L"apply", 5, {1}, "not applied"},
        {{REG_NONE, ""}, "", L"apply", 0, {}, "no policy\r\n"},
        {invalid, "", L"apply", 0, {}, "no policy (the value is invalid)\r\n"},
        {Dword(0), "", L"on battery", 7, {}, "managed by policy (PelloranUsbCharging=0 (off)): nothing changed; pelloranctl apply"},
        {Dword(1), "", L"mode battery --json", 7, {}, "PelloranUsbCharging=1 (on, Adapter Mode)", "adapter"},
        {Dword(3), "InitialStatus=0x10003", L"off", 7, {}, "PelloranUsbCharging=3"},
        {Dword(3), "", L"on", 0, {3}, "on, Adapter + Battery Mode\r\n"},
        {Dword(1), "", L"mode adapter", 0, {1}, "on, Adapter Mode\r\n"},
        {wrongType, "", L"on battery", 0, {3}, "on, Adapter + Battery Mode\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.arguments, c.arguments + std::wcslen(c.arguments)) + " under " + c.says);
        Fresh(c.scenario, kNothing);
        StorePolicy(c.policy);
        const Ctl ctl = RunCtl(*m_run, c.arguments);
        EXPECT_EQ(ctl.exit, c.exit);
        EXPECT_EQ(m_run->ControlValues(), c.sent);
        EXPECT_EQ(m_run->Log("Locator").empty(), c.exit == 7 || std::string(c.says).rfind("no policy", 0) == 0) << "the firmware asked";
        EXPECT_EQ(ReadStored(), (c.policy == wrongType && !c.sent.empty() ? Dword(0) : Stored{REG_NONE, ""})) << "a mode stored under a policy";
        EXPECT_NE((c.exit == 0 ? ctl.out : ctl.err).find(c.says), std::string::npos) << ctl.out << ctl.err;
        if (std::wcsstr(c.arguments, L"--json") == nullptr) continue;
        const json object = ExpectContract(ctl.out, c.exit);
        EXPECT_EQ(object["policy"], c.json != nullptr ? json(c.json) : json()) << ctl.out;
    }
}

// The shipped start-up script, beside pelloranctl, run by cmd: it applies the policy and ends with apply's exit code.
TEST_F(CtlTest, StartUpScriptPassesOnApplysExitCode) {
    const struct {
        const char* scenario;
        DWORD exit;
        std::vector<int> sent;
    } runs[] = {{"InitialStatus=0x10000", 0, {3}}, {"Answers.device_ctrl=WBEM_E_INVALID_PARAMETER", 5, {3}}};
    for (const auto& run : runs) {
        Fresh(run.scenario, kNothing);
        StorePolicy(Dword(3));
        ::CopyFileW(WinPath(PELLORAN_CTL_PATH).c_str(), (m_run->folder + L"\\pelloranctl.exe").c_str(), FALSE);
        ::CopyFileW(WinPath(PELLORAN_SOURCE_DIR "/packaging/scripts/Apply-UsbChargingPolicy.cmd").c_str(),
                    (m_run->folder + L"\\Apply-UsbChargingPolicy.cmd").c_str(), FALSE);
        const Ctl ctl = RunCaptured(L"cmd.exe /c \"" + m_run->folder + L"\\Apply-UsbChargingPolicy.cmd\"", m_run->folder, kAllowMs);
        EXPECT_EQ(ctl.exit, run.exit) << ctl.out << ctl.err;
        EXPECT_EQ(m_run->ControlValues(), run.sent);
    }
}

// A 64-bit Group Policy client's value, read by the 32-bit program on 64-bit Windows (the x64 flavour, where the
// 32-bit build exists): the key is shared between the registry's two views.
TEST_F(CtlTest, The32BitProgramReadsThe64BitView) {
    const char* x86 = std::getenv("PELLORAN_X86_CTL");
    if (x86 == nullptr || ::GetFileAttributesW(WinPath(x86).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no 32-bit build beside this 64-bit one";
    Fresh("", kNothing);
    StorePolicy(Dword(0));  // through the 64-bit view
    const Ctl ctl = RunCaptured(L"\"" + WinPath(x86) + L"\" on battery --json", m_run->folder, kAllowMs);
    EXPECT_EQ(ctl.exit, 7u) << ctl.out << ctl.err;
    EXPECT_EQ(ExpectContract(ctl.out, 7)["policy"], "off") << ctl.out;
}

// The command line takes no single-instance mutex: it reads the state while the dialog is open.
TEST_F(CtlTest, StatusWhileTheDialogIsOpen) {
    Fresh("InitialStatus=0x10003", 0);
    ToolProcess dialog(WinPath(PELLORAN_EXE_PATH));
    HWND window = WaitForWindow(dialog.pid(), &IsSettingsDialog);
    ASSERT_NE(window, nullptr);
    const Ctl ctl = RunCtl(*m_run, L"status");
    EXPECT_EQ(ctl.exit, 0u);
    EXPECT_EQ(ctl.out, "on, Adapter + Battery Mode\r\n");
    ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(dialog.WaitForExit(), 0u);
}

}  // namespace
