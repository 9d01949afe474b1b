// The firmware's methods through the client against the simulator: what is sent in which order, the
// retry of ExecMethod, the reading of the status word and the release of each call's objects.
#include "firmware/FirmwareCalls.h"
#include "firmware/PelloranCodes.h"
#include "tests/firmware/ClientFixture.h"

#include <set>
#include <string>

namespace {

::testing::Environment* const kCom = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

const std::string kPath0 = "\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_0\"";
constexpr int kUnwritten = 0x7777;  // a status word no call may leave behind
constexpr long long kPauseMs = 500;

// The call lines of the method calls (from the first GetObject on), without the objects' Free lines.
std::vector<SimLogEntry> CallLines(const SimScenarioFile& scenario) {
    std::vector<SimLogEntry> lines;
    for (const SimLogEntry& entry : scenario.Log())
        if ((!lines.empty() || entry.event == "GetObject") && entry.event != "Free") lines.push_back(entry);
    return lines;
}

// The ids of the objects the simulator logged as freed.
std::set<std::string> FreedIds(const SimScenarioFile& scenario) {
    std::set<std::string> ids;
    for (const SimLogEntry& entry : scenario.Log("Free")) ids.insert(entry["obj"]);
    return ids;
}

using FirmwareCallsTest = ClientTest;

TEST_F(FirmwareCallsTest, SetDeviceControlPutsControlThenDeviceAndExecutesOnEntryZero) {
    ASSERT_EQ(1, StartQueried());
    DebugOutputCapture debug;
    EXPECT_EQ(S_OK, SetDeviceControl(PELLORAN_CTRL_ADAPTER_BATTERY));
    EXPECT_TRUE(g_pWmiClient->params.empty());

    const std::vector<SimLogEntry> lines = CallLines(*scenario);
    std::vector<std::string> events;
    for (const SimLogEntry& line : lines) events.push_back(line.event);
    ASSERT_EQ((std::vector<std::string>{"GetObject", "GetMethod", "SpawnInstance", "Put", "Put", "ExecMethod"}),
              events);
    const SimLogEntry &getObject = lines[0], &getMethod = lines[1], &spawn = lines[2];
    const SimLogEntry &putControl = lines[3], &putDevice = lines[4], &exec = lines[5];
    EXPECT_EQ("TolvekManagement", getObject["path"]);
    EXPECT_EQ("0x0", getObject["flags"]);
    EXPECT_EQ(getObject["out"], getMethod["this"]);
    EXPECT_EQ("device_ctrl", getMethod["name"]);
    EXPECT_EQ("<null>", getMethod["outsig"]) << "the out-parameter definition is not asked for";
    EXPECT_EQ(getMethod["in"], spawn["this"]);
    EXPECT_EQ("0x0", spawn["flags"]);
    for (const SimLogEntry* put : {&putControl, &putDevice}) {
        EXPECT_EQ(spawn["out"], (*put)["this"]);
        EXPECT_EQ("3", (*put)["vt"]) << "VT_I4";
        EXPECT_EQ("0", (*put)["type"]) << "the VARIANT's own type decides";
        EXPECT_EQ("0x0", (*put)["hr"]);
    }
    EXPECT_EQ("ctrl_param", putControl["name"]);
    EXPECT_EQ("3", putControl["value"]);
    EXPECT_EQ("device_id", putDevice["name"]);
    EXPECT_EQ("393249", putDevice["value"]);
    EXPECT_EQ(kPath0, exec["path"]);
    EXPECT_EQ("device_ctrl", exec["method"]);
    EXPECT_EQ("0x0", exec["flags"]);
    EXPECT_EQ(spawn["out"], exec["in"]);
    EXPECT_EQ("0x10003", exec["state"]);

    const std::set<std::string> freed = FreedIds(*scenario);
    EXPECT_EQ(1u, freed.count(getObject["out"])) << "the class definition is released";
    EXPECT_EQ(1u, freed.count(getMethod["in"])) << "the in-parameter definition is released";
    EXPECT_EQ(4, SimLiveObjects()) << "locator, namespace and the call's in- and out-parameters";
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

    const std::vector<SimLogEntry> puts = scenario->Log("Put");
    ASSERT_EQ(1u, puts.size());
    EXPECT_EQ("device_id", puts[0]["name"]);
    EXPECT_EQ("3", puts[0]["vt"]);
    EXPECT_EQ("393249", puts[0]["value"]);
    const std::vector<SimLogEntry> exec = scenario->Log("ExecMethod");
    ASSERT_EQ(1u, exec.size());
    EXPECT_EQ("device_status", exec[0]["method"]);
    EXPECT_EQ(kPath0, exec[0]["path"]);
}

TEST_F(FirmwareCallsTest, AControlValueSentIsTheStatusReadBack) {
    ASSERT_EQ(1, StartQueried());
    int status = kUnwritten;
    ASSERT_EQ(S_OK, GetDeviceStatus(status));
    EXPECT_EQ(0x10000, status) << "the firmware starts present and off";
    for (int control : {PELLORAN_CTRL_ADAPTER, PELLORAN_CTRL_ADAPTER_BATTERY, PELLORAN_CTRL_OFF}) {
        ASSERT_EQ(S_OK, SetDeviceControl(control));
        ASSERT_EQ(S_OK, GetDeviceStatus(status));
        EXPECT_EQ(PELLORAN_STATUS_PRESENT | control, status);
    }
}

// A step before ExecMethod that does not answer S_OK: the scenario key, its value and the HRESULT.
struct EarlyStop {
    const char* key;
    const char* value;
    HRESULT hr;
};

class EarlyStopTest : public ClientTest, public ::testing::WithParamInterface<EarlyStop> {};

TEST_P(EarlyStopTest, EndsTheCallWithoutExecutingOrPausingAndLeavesTheStatusUnwritten) {
    const EarlyStop& stop = GetParam();
    ASSERT_EQ(1, StartQueried({{stop.key, stop.value}}));
    int status = kUnwritten;
    const long long start = NowMs();
    const HRESULT statusHr = GetDeviceStatus(status);
    const HRESULT controlHr = SetDeviceControl(PELLORAN_CTRL_ADAPTER);
    const long long elapsed = NowMs() - start;

    EXPECT_EQ(stop.hr, controlHr);
    EXPECT_TRUE(FAILED(statusHr)) << "no method executed is no status read";
    EXPECT_EQ(kUnwritten, status);
    EXPECT_TRUE(scenario->Log("ExecMethod").empty());
    EXPECT_LT(elapsed, 400) << "two calls, no retry pause";
    EXPECT_TRUE(g_pWmiClient->params.empty());
    EXPECT_EQ(2, SimLiveObjects()) << "whatever the steps handed back was released";
}

INSTANTIATE_TEST_SUITE_P(FirmwareCallsTest, EarlyStopTest,
                         ::testing::Values(EarlyStop{"GetObjectHr", "WBEM_E_NOT_FOUND", AsHr(WBEM_E_NOT_FOUND)},
                                           EarlyStop{"GetObjectHr", "WBEM_S_FALSE", AsHr(WBEM_S_FALSE)},
                                           EarlyStop{"GetMethodHr", "WBEM_E_FAILED", AsHr(WBEM_E_FAILED)},
                                           EarlyStop{"SpawnInstanceHr", "WBEM_E_ACCESS_DENIED",
                                                     AsHr(WBEM_E_ACCESS_DENIED)}));

TEST_F(FirmwareCallsTest, ExecMethodFailingTwiceIsTriedThreeTimesHalfASecondApart) {
    ASSERT_EQ(1, StartQueried({{"ExecMethodFailures", "2"}}));
    DebugOutputCapture debug;
    EXPECT_EQ(S_OK, SetDeviceControl(PELLORAN_CTRL_ADAPTER));

    const std::vector<SimLogEntry> exec = scenario->Log("ExecMethod");
    ASSERT_EQ(3u, exec.size());
    EXPECT_EQ("0x80041001", exec[0]["hr"]);
    EXPECT_EQ("0x80041001", exec[1]["hr"]);
    EXPECT_EQ("0x0", exec[2]["hr"]);
    for (size_t i = 1; i < exec.size(); ++i) {
        EXPECT_EQ(exec[0]["in"], exec[i]["in"]) << "the same in-parameter object each time";
        EXPECT_GE(exec[i].t - exec[i - 1].t, kPauseMs - 20);
        EXPECT_LT(exec[i].t - exec[i - 1].t, kPauseMs + 450) << "not a pause of a second";
    }
    std::vector<std::string> execTexts;
    for (const std::string& text : debug.texts())
        if (text.rfind("ExecMethod", 0) == 0) execTexts.push_back(text);
    EXPECT_EQ((std::vector<std::string>{"ExecMethod returned 0x80041001:", "ExecMethod returned 0x80041001:",
                                        "ExecMethod returned 0x0:"}),
              execTexts);
    EXPECT_EQ("0x10001", exec[2]["state"]);
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

// A type in which the firmware hands back ctrl_param = 65537, and whether it is a status word.
struct OutType {
    const char* type;
    bool isStatusWord;
};

class OutTypeTest : public ClientTest, public ::testing::WithParamInterface<OutType> {};

TEST_P(OutTypeTest, OnlyA32BitIntegerIsTakenAsTheStatusWord) {
    ASSERT_EQ(1, StartQueried({{"StatusWord", "65537"}, {"StatusType", GetParam().type}}));
    int status = kUnwritten;
    const HRESULT hr = GetDeviceStatus(status);
    if (GetParam().isStatusWord) {
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(0x10001, status);
    } else {
        EXPECT_TRUE(FAILED(hr)) << "a wrong type or a missing value is a failed read";
        EXPECT_EQ(kUnwritten, status);
    }
}

INSTANTIATE_TEST_SUITE_P(FirmwareCallsTest, OutTypeTest,
                         ::testing::Values(OutType{"I4", true}, OutType{"UI4", true}, OutType{"I8", true},
                                           OutType{"BSTR", false}, OutType{"R8", false}, OutType{"BOOL", false},
                                           OutType{"NULL", false}, OutType{"EMPTY", false},
                                           OutType{"MISSING", false}),
                         [](const ::testing::TestParamInfo<OutType>& info) { return std::string(info.param.type); });

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
    const LONG liveAfterFirst = SimLiveObjects();
    int status = kUnwritten;
    ASSERT_EQ(S_OK, GetDeviceStatus(status));

    const std::vector<SimLogEntry> exec = scenario->Log("ExecMethod");
    ASSERT_EQ(2u, exec.size());
    const std::set<std::string> freed = FreedIds(*scenario);
    EXPECT_EQ(1u, freed.count(exec[0]["in"])) << "first call's in-parameters";
    EXPECT_EQ(1u, freed.count(exec[0]["out"])) << "first call's out-parameters";
    EXPECT_EQ(0u, freed.count(exec[1]["in"])) << "the latest call's objects stay with the client";
    EXPECT_EQ(0u, freed.count(exec[1]["out"]));
    EXPECT_EQ(4, liveAfterFirst);
    EXPECT_EQ(liveAfterFirst, SimLiveObjects());
}

}  // namespace
