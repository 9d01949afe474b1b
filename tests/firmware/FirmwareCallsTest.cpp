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
    ASSERT_EQ("GetObject GetMethod SpawnInstance Put Put ExecMethod ", events);
    const SimLogEntry &getObject = lines[0], &getMethod = lines[1], &spawn = lines[2], &exec = lines[5];
    EXPECT_EQ("TolvekManagement", getObject["path"]);
    EXPECT_EQ("device_ctrl", getMethod["name"]);
    EXPECT_EQ("<null>", getMethod["outsig"]) << "the out-parameter definition is not asked for";
    EXPECT_EQ(getMethod["in"], spawn["this"]) << "the in-parameters are spawned from the method's definition";
    EXPECT_EQ("ctrl_param=3 vt=3 type=0", PutText(lines[3])) << "VT_I4, and the VARIANT's own type decides";
    EXPECT_EQ("device_id=393249 vt=3 type=0", PutText(lines[4]));
    EXPECT_EQ(spawn["out"], lines[3]["this"]);
    EXPECT_EQ(spawn["out"], lines[4]["this"]);
    EXPECT_EQ(kPath0, exec["path"]);
    EXPECT_EQ("device_ctrl", exec["method"]);
    EXPECT_EQ(spawn["out"], exec["in"]);
    for (const SimLogEntry* line : {&getObject, &getMethod, &spawn, &exec}) EXPECT_EQ("0x0", (*line)["flags"]);
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

    const std::vector<SimLogEntry> exec = scenario->Log("ExecMethod");
    ASSERT_EQ(3u, exec.size());
    EXPECT_EQ("0x80041001", exec[0]["hr"]);
    EXPECT_EQ("0x80041001", exec[1]["hr"]);
    EXPECT_EQ("0x0", exec[2]["hr"]);
    EXPECT_EQ("0x10001", exec[2]["state"]);
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

TEST_F(FirmwareCallsTest, OnlyAnIntegerOutParameterIsTakenAsTheStatusWord) {
    // The type in which the firmware hands back ctrl_param = 65537, and whether that is a status word.
    const std::pair<const char*, bool> types[] = {{"I4", true},    {"UI4", true},  {"I8", true},
                                                  {"BSTR", false}, {"R8", false},  {"BOOL", false},
                                                  {"NULL", false}, {"EMPTY", false}, {"MISSING", false}};
    for (const auto& [type, isStatusWord] : types) {
        SCOPED_TRACE(type);
        ASSERT_EQ(1, StartQueried({{"StatusWord", "65537"}, {"StatusType", type}}));
        int status = kUnwritten;
        const HRESULT hr = GetDeviceStatus(status);
        EXPECT_EQ(isStatusWord, SUCCEEDED(hr)) << "a wrong type or a missing value is a failed read";
        EXPECT_EQ(isStatusWord ? 0x10001 : kUnwritten, status);
        Finish();
    }
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
