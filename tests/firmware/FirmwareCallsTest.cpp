// The firmware's methods through the client against the simulator: what is sent in which order, the
// retry of ExecMethod, the reading of the status word and the release of each call's objects.
#include "firmware/FirmwareCalls.h"
#include "firmware/PelloranCodes.h"
#include "tests/firmware/ClientFixture.h"

#include <string>

namespace {

const std::string kPath0 = "\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_0\"";
constexpr int kUnwritten = 0x7777;  // a status word no call may leave behind
constexpr long long kPauseMs = 500;

// A Put line as "name=value vt=<VARIANT type> type=<CIM type argument>".
std::string PutText(const SimLogEntry& put) {
    return put["name"] + "=" + put["value"] + " vt=" + put["vt"] + " type=" + put["type"];
}

using FirmwareCallsTest = ClientTest;

// The answers of the method calls (not those of the class lookups), in order.
std::vector<SimLogEntry> Answers(const SimScenarioFile& scenario) {
    std::vector<SimLogEntry> answers;
    for (const SimLogEntry& answer : scenario.Log("Answer"))
        if (!answer["method"].empty()) answers.push_back(answer);
    return answers;
}

TEST_F(FirmwareCallsTest, SetDeviceControlPutsControlThenDeviceAndExecutesOnEntryZero) {
    ASSERT_EQ(1, StartQueried());
    DebugOutputCapture debug;
    EXPECT_EQ(S_OK, SetDeviceControl(PELLORAN_CTRL_ADAPTER_BATTERY));
    EXPECT_TRUE(g_pWmiClient->params.empty());

    std::vector<SimLogEntry> lines;  // from the call's GetObject on, without the Free lines
    for (const SimLogEntry& entry : scenario->Log())
        if ((!lines.empty() || entry.event == "GetObject") && entry.event != "Free") lines.push_back(entry);
    std::string events;
    for (const SimLogEntry& line : lines) events += line.event + " ";
    // GetObject and ExecMethod return at once; their answers are awaited through the call results.
    ASSERT_EQ("GetObject Answer GetResultObject GetMethod SpawnInstance Put Put ExecMethod Answer GetResultObject ",
              events);
    const SimLogEntry &getObject = lines[0], &getMethod = lines[3], &spawn = lines[4], &exec = lines[7];
    EXPECT_EQ("TolvekManagement", getObject["path"]);
    EXPECT_EQ(getObject["result"], lines[2]["this"]);
    EXPECT_EQ("device_ctrl", getMethod["name"]);
    EXPECT_EQ("<null>", getMethod["outsig"]) << "the out-parameter definition is not asked for";
    EXPECT_EQ(getMethod["in"], spawn["this"]) << "the in-parameters are spawned from the method's definition";
    EXPECT_EQ("ctrl_param=3 vt=3 type=0", PutText(lines[5])) << "VT_I4, and the VARIANT's own type decides";
    EXPECT_EQ("device_id=393249 vt=3 type=0", PutText(lines[6]));
    EXPECT_EQ(spawn["out"], lines[5]["this"]);
    EXPECT_EQ(spawn["out"], lines[6]["this"]);
    EXPECT_EQ(kPath0, exec["path"]);
    EXPECT_EQ("device_ctrl", exec["method"]);
    EXPECT_EQ(spawn["out"], exec["in"]);
    EXPECT_EQ(exec["result"], lines[9]["this"]);
    EXPECT_EQ("0x0", lines[9]["hr"]);
    for (const SimLogEntry* line : {&getObject, &exec}) EXPECT_EQ("0x10", (*line)["flags"]) << "returning at once";
    for (const SimLogEntry* line : {&getMethod, &spawn}) EXPECT_EQ("0x0", (*line)["flags"]);
    EXPECT_EQ(4, SimLiveObjects()) << "locator, namespace and the call's in- and out-parameters: "
                                      "the class and in-parameter definitions were released";
    EXPECT_EQ((std::vector<std::string>{"GetObject returned 0x0:", "GetObject returned 0x0:",
                                        "SpawnInstance returned 0x0:", "ExecMethod returned 0x0:"}),
              debug.texts());
}

TEST_F(FirmwareCallsTest, GetDeviceStatusReadsTheStatusWordTheFirmwareHandsBack) {
    ASSERT_EQ(1, StartQueried({{"StatusWord", "65537"}}));
    int status = kUnwritten;
    EXPECT_EQ(S_OK, GetDeviceStatus(status));
    EXPECT_EQ(0x10001, status) << "present, Adapter mode";
    EXPECT_TRUE(g_pWmiClient->params.empty());

    const std::vector<SimLogEntry> puts = scenario->Log("Put"), exec = scenario->Log("ExecMethod");
    ASSERT_EQ(1u, puts.size());
    EXPECT_EQ("device_id=393249 vt=3 type=0", PutText(puts[0]));
    ASSERT_EQ(1u, exec.size());
    EXPECT_EQ("device_status", exec[0]["method"]);
    EXPECT_EQ(kPath0, exec[0]["path"]);
}

// A step before ExecMethod that does not answer S_OK (a success code included) ends the call at once.
TEST_F(FirmwareCallsTest, AStepBeforeExecMethodNotAnsweringSOkExecutesNothingAndNeverPauses) {
    struct Stop {
        const char* key;
        const char* value;
        HRESULT hr;
    };
    const Stop stops[] = {{"GetObjectHr", "WBEM_E_NOT_FOUND", AsHr(WBEM_E_NOT_FOUND)},
                          {"GetObjectHr", "WBEM_S_FALSE", AsHr(WBEM_S_FALSE)},
                          {"GetMethodHr", "WBEM_E_FAILED", AsHr(WBEM_E_FAILED)},
                          {"SpawnInstanceHr", "WBEM_E_ACCESS_DENIED", AsHr(WBEM_E_ACCESS_DENIED)}};
    for (const Stop& stop : stops) {
        SCOPED_TRACE(testing::Message() << stop.key << "=" << stop.value);
        ASSERT_EQ(1, StartQueried({{stop.key, stop.value}}));
        int status = kUnwritten;
        const long long start = NowMs();
        EXPECT_TRUE(FAILED(GetDeviceStatus(status))) << "no method executed is no status read";
        EXPECT_EQ(stop.hr, SetDeviceControl(PELLORAN_CTRL_ADAPTER));
        EXPECT_LT(NowMs() - start, 400) << "two calls, no retry pause";
        EXPECT_EQ(kUnwritten, status);
        EXPECT_TRUE(scenario->Log("ExecMethod").empty());
        EXPECT_TRUE(g_pWmiClient->params.empty());
        EXPECT_EQ(2, SimLiveObjects()) << "whatever the steps handed back was released";
        Finish();
    }
}

TEST_F(FirmwareCallsTest, ExecMethodFailingTwiceIsTriedThreeTimesHalfASecondApart) {
    ASSERT_EQ(1, StartQueried({{"ExecMethodFailures", "2"}}));
    DebugOutputCapture debug;
    EXPECT_EQ(S_OK, SetDeviceControl(PELLORAN_CTRL_ADAPTER));

    const std::vector<SimLogEntry> exec = scenario->Log("ExecMethod"), answers = Answers(*scenario);
    ASSERT_EQ(3u, exec.size());
    ASSERT_EQ(3u, answers.size());
    EXPECT_EQ("0x80041001", answers[0]["hr"]);
    EXPECT_EQ("0x80041001", answers[1]["hr"]);
    EXPECT_EQ("0x0", answers[2]["hr"]);
    EXPECT_EQ("0x10001", answers[2]["state"]);
    for (size_t i = 1; i < exec.size(); ++i) {
        EXPECT_EQ(exec[0]["in"], exec[i]["in"]) << "the same in-parameter object each time";
        EXPECT_GE(exec[i].t - exec[i - 1].t, kPauseMs - 20);
        EXPECT_LT(exec[i].t - exec[i - 1].t, kPauseMs + 450) << "not a pause of a second";
    }
    const std::vector<std::string>& texts = debug.texts();
    EXPECT_EQ((std::vector<std::string>{"ExecMethod returned 0x80041001:", "ExecMethod returned 0x80041001:",
                                        "ExecMethod returned 0x0:"}),
              std::vector<std::string>(texts.end() - std::min<size_t>(3, texts.size()), texts.end()));
}

TEST_F(FirmwareCallsTest, ExecMethodFailingAlwaysStopsAfterThreeSecondsOfPauses) {
    ASSERT_EQ(1, StartQueried({{"ExecMethodFailures", "-1"}, {"ExecMethodFailHr", "WBEM_E_TRANSPORT_FAILURE"}}));
    int status = kUnwritten;
    const long long start = NowMs();
    EXPECT_EQ(AsHr(WBEM_E_TRANSPORT_FAILURE), GetDeviceStatus(status));
    const long long elapsed = NowMs() - start;

    const std::vector<SimLogEntry> exec = scenario->Log("ExecMethod");
    ASSERT_EQ(7u, exec.size()) << "one attempt and six more after a pause each";
    EXPECT_GE(exec.back().t - exec.front().t, 6 * kPauseMs - 50);
    EXPECT_LT(elapsed, 6 * kPauseMs + 1500);
    EXPECT_EQ(kUnwritten, status);
    EXPECT_TRUE(g_pWmiClient->params.empty());
}

TEST_F(FirmwareCallsTest, OnlyAnIntegerOutParameterIsTakenAsTheStatusWordAndNeverSignExtended) {
    // The word and the type in which the firmware hands back ctrl_param, and the status word read (none:
    // no status word). Narrow integers keep their bit pattern: a negative one must not fake bit 16.
    struct Case {
        const char* word;
        const char* type;
        int status;
    };
    constexpr int kNone = kUnwritten;
    const Case cases[] = {
        {"65537", "I4", 0x10001},   {"65537", "UI4", 0x10001}, {"65537", "I8", 0x10001},
        {"0xFFFF", "I2", 0xFFFF},   {"0xFD", "I1", 0xFD},      {"0xFFFF", "UI2", 0xFFFF},
        {"0xFFFFFFFFFFFFFFFF", "I8", kNone},  // -1: not a 32-bit pattern
        {"0x100010001", "UI8", kNone},        {"65537", "BSTR", kNone}, {"65537", "R8", kNone},
        {"65537", "BOOL", kNone},   {"65537", "NULL", kNone},  {"65537", "EMPTY", kNone},
        {"65537", "MISSING", kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.word);
        ASSERT_EQ(1, StartQueried({{"StatusWord", c.word}, {"StatusType", c.type}}));
        int status = kUnwritten;
        const HRESULT hr = GetDeviceStatus(status);
        EXPECT_EQ(c.status != kNone, SUCCEEDED(hr)) << "a wrong type or a missing value is a failed read";
        EXPECT_EQ(c.status, status);
        Finish();
    }
}

// Only a failure that may pass is tried again: the first attempt fails with the code, a second would
// succeed.
TEST_F(FirmwareCallsTest, OnlyAFailureThatMayPassIsTriedAgain) {
    const std::pair<const char*, bool> codes[] = {
        {"WBEM_E_TIMED_OUT", true},        {"WBEM_E_CALL_CANCELLED", true},  {"WBEM_E_SERVER_TOO_BUSY", true},
        {"WBEM_E_SHUTTING_DOWN", true},    {"RPC_E_DISCONNECTED", true},     {"RPC_S_SERVER_UNAVAILABLE", true},
        {"WBEM_E_FAILED", true},           {"WBEM_E_INVALID_METHOD", false}, {"WBEM_E_INVALID_PARAMETER", false},
        {"WBEM_E_NOT_FOUND", false},       {"WBEM_E_ACCESS_DENIED", false},  {"E_ACCESSDENIED", false},
        {"WBEM_E_TYPE_MISMATCH", false},   {"WBEM_E_INVALID_CLASS", false},  {"WBEM_E_NOT_SUPPORTED", false},
    };
    for (const auto& [code, mayPass] : codes) {
        SCOPED_TRACE(code);
        ASSERT_EQ(1, StartQueried({{"ExecMethodFailures", "1"}, {"ExecMethodFailHr", code}}));
        const HRESULT hr = SetDeviceControl(PELLORAN_CTRL_ADAPTER);
        EXPECT_EQ(mayPass, SUCCEEDED(hr));
        EXPECT_EQ(mayPass ? 2u : 1u, scenario->Log("ExecMethod").size());
        Finish();
    }
}

// A call whose answer never comes is given up once its 3 s are over: one attempt, never tried again,
// and the next call is made as if nothing had happened.
TEST_F(FirmwareCallsTest, AnAnswerThatNeverComesIsGivenUpAndTheNextCallWorks) {
    ASSERT_EQ(1, StartQueried({{"Answers.device_ctrl", "never"}}));
    EXPECT_EQ(AsHr(WBEM_E_TIMED_OUT), SetDeviceControl(PELLORAN_CTRL_ADAPTER_BATTERY));
    ASSERT_EQ(1u, scenario->Log("ExecMethod").size());
    const std::vector<SimLogEntry> polls = scenario->Log("GetResultObject");
    ASSERT_FALSE(polls.empty());
    EXPECT_EQ("0x40004", polls.back()["hr"]) << "WBEM_S_TIMEDOUT: the answer never came";
    EXPECT_GE(std::stoi(polls.front()["timeout"]), 2000) << "waited for (nearly) the whole bound";
    EXPECT_LE(std::stoi(polls.front()["timeout"]), 3000);
    EXPECT_TRUE(g_pWmiClient->params.empty());

    EXPECT_EQ(S_OK, SetDeviceControl(PELLORAN_CTRL_ADAPTER));
    const std::vector<SimLogEntry> answers = Answers(*scenario);
    ASSERT_EQ(1u, answers.size());
    EXPECT_EQ("0x10001", answers[0]["state"]);
    EXPECT_EQ(4, SimLiveObjects()) << "the abandoned call result was released";
}

// A class lookup that never answers ends the call before the method runs.
TEST_F(FirmwareCallsTest, AClassLookupThatNeverAnswersExecutesNothing) {
    ASSERT_EQ(1, StartQueried({{"Answers.GetObject", "never"}}));
    int status = kUnwritten;
    EXPECT_EQ(AsHr(WBEM_E_TIMED_OUT), GetDeviceStatus(status));
    EXPECT_EQ(kUnwritten, status);
    EXPECT_TRUE(scenario->Log("ExecMethod").empty());
}

// An answer that comes after the bound: the call has failed by then; the firmware still acts when it
// answers, and nothing of that late answer reaches a later call.
TEST_F(FirmwareCallsTest, ALateAnswerIsNotTakenForALaterCallsAnswer) {
    ASSERT_EQ(1, StartQueried({{"Answers.device_ctrl", "@4500"}}));
    EXPECT_EQ(AsHr(WBEM_E_TIMED_OUT), SetDeviceControl(PELLORAN_CTRL_ADAPTER_BATTERY));
    for (int i = 0; i < 300 && Answers(*scenario).empty(); ++i) ::Sleep(50);
    ASSERT_EQ(1u, Answers(*scenario).size()) << "the late answer never came";
    EXPECT_EQ("0x10003", Answers(*scenario)[0]["state"]) << "the firmware acted when it answered";

    int status = kUnwritten;
    EXPECT_EQ(S_OK, GetDeviceStatus(status));
    EXPECT_EQ(0x10003, status);
    const std::vector<SimLogEntry> exec = scenario->Log("ExecMethod"), polls = scenario->Log("GetResultObject");
    ASSERT_EQ(2u, exec.size());
    EXPECT_EQ(exec[1]["result"], polls.back()["this"]) << "the status came from its own call";
    for (const SimLogEntry& poll : polls) {
        if (poll["this"] == exec[0]["result"]) {
            EXPECT_EQ("0x40004", poll["hr"]) << "the late answer was taken";
        }
    }
    EXPECT_EQ(4, SimLiveObjects());
}

TEST_F(FirmwareCallsTest, AStatusCallThatExecutesNothingNeverReportsAnEarlierAnswer) {
    ASSERT_EQ(1, StartQueried({{"StatusWord", "65537"}}));
    int status = kUnwritten;
    ASSERT_EQ(S_OK, GetDeviceStatus(status));
    ASSERT_EQ(0x10001, status);

    // The same client on a namespace whose class lookup answers a success code other than S_OK.
    SimScenarioFile stopping(SimKeys{{"GetObjectHr", "WBEM_S_FALSE"}});
    ASSERT_TRUE(ConnectNamespace(L"root\\wmi"));
    status = kUnwritten;
    EXPECT_TRUE(FAILED(GetDeviceStatus(status)));
    EXPECT_EQ(kUnwritten, status) << "the status word of the earlier call was handed out again";
    EXPECT_TRUE(stopping.Log("ExecMethod").empty());
}

TEST_F(FirmwareCallsTest, TheNextCallReleasesThePreviousCallsParameterObjects) {
    ASSERT_EQ(1, StartQueried());
    ASSERT_EQ(S_OK, SetDeviceControl(PELLORAN_CTRL_ADAPTER));
    int status = kUnwritten;
    ASSERT_EQ(S_OK, GetDeviceStatus(status));
    ASSERT_EQ(2u, scenario->Log("ExecMethod").size());
    EXPECT_EQ(4, SimLiveObjects()) << "locator, namespace and only the latest call's in- and out-parameters";
}

}  // namespace
