// The WMI client against the firmware simulator: diagnostics, COM set-up, connection and instance query.
#include "tests/firmware/ClientFixture.h"

#include <string>
#include <tuple>

namespace {

const std::string kPath = "\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_";
const std::string kPath0 = kPath + "0\"", kPath1 = kPath + "1\"", kPath2 = kPath + "2\"";

using WmiClientTest = ClientTest;

TEST(FormatStepResult, WritesEachDiagnosticTextAndSendsItToTheDebugger) {
    const std::tuple<const wchar_t*, HRESULT, std::string> cases[] = {
        {L"CoInitialize returned 0x%x:", E_FAIL, "CoInitialize returned 0x80004005:"},
        {L"CoInitializeSecurity returned 0x%x:", RPC_E_TOO_LATE, "CoInitializeSecurity returned 0x80010119:"},
        {L"Query returned 0x%x:", S_OK, "Query returned 0x0:"},
        {L"Obj count returned 0x%x:", WBEM_S_FALSE, "Obj count returned 0x1:"},
        {L"GetObject returned 0x%x:", AsHr(WBEM_E_NOT_FOUND), "GetObject returned 0x80041002:"},
        {L"SpawnInstance returned 0x%x:", AsHr(WBEM_E_FAILED), "SpawnInstance returned 0x80041001:"},
        {L"ExecMethod returned 0x%x:", AsHr(WBEM_E_INVALID_PARAMETER), "ExecMethod returned 0x80041008:"},
    };
    for (const auto& [format, hr, text] : cases) {
        DebugOutputCapture debug;
        wchar_t buffer[100];
        FormatStepResult(buffer, format, hr);
        EXPECT_EQ(std::wstring(text.begin(), text.end()), buffer);
        EXPECT_EQ(std::vector<std::string>{text}, debug.texts()) << "one debugger text per step";
    }
}

TEST_F(WmiClientTest, ComSetUpPutsTheThreadIntoTheMultithreadedApartment) {
    // Asking for a single-threaded apartment now must be refused as a change of model.
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr)) ::CoUninitialize();
    EXPECT_EQ(RPC_E_CHANGED_MODE, hr);
}

TEST_F(WmiClientTest, ARefusedOrUnknownNamespaceLeavesTheClientUnconnected) {
    // A refusal, a success code other than S_OK (which still hands back a namespace) and a namespace
    // that does not exist.
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"WBEM_E_ACCESS_DENIED", L"root\\wmi"}, {"WBEM_S_FALSE", L"root\\wmi"}, {"0", L"root\\nowhere"}};
    for (const auto& [connectHr, ns] : cases) {
        SCOPED_TRACE(connectHr);
        Start({{"ConnectHr", connectHr}});
        EXPECT_FALSE(ConnectNamespace(ns));
        EXPECT_FALSE(g_pWmiClient->bConnected);
        EXPECT_EQ(nullptr, g_pWmiClient->pServices.Get());
        EXPECT_EQ(0, QueryInstances(L"TolvekManagement")) << "no query without a connection";
        EXPECT_TRUE(scenario->Log("ExecQuery").empty());
        Finish();
    }
}

TEST_F(WmiClientTest, QuerySendsTheClassQueryInWqlForwardOnlyAndReturningImmediately) {
    DebugOutputCapture debug;
    ASSERT_EQ(1, StartQueried());
    const std::vector<SimLogEntry> query = scenario->Log("ExecQuery");
    ASSERT_EQ(1u, query.size());
    EXPECT_EQ("WQL", query[0]["lang"]);
    EXPECT_EQ("Select * From TolvekManagement", query[0]["query"]);
    EXPECT_EQ("0x30", query[0]["flags"]);
    EXPECT_STREQ(L"TolvekManagement", g_pWmiClient->bstrClass);
    // The counting pass ends on the Next that hands back nothing: WBEM_S_FALSE.
    EXPECT_EQ((std::vector<std::string>{"Query returned 0x0:", "Obj count returned 0x1:"}), debug.texts());
}

TEST_F(WmiClientTest, CountsTheInstancesAndKeepsTheLastCountedOneAsEntryZero) {
    struct Case {
        SimKeys keys;
        std::vector<std::string> paths;  // "<null>": an entry the query did not fill
    };
    const Case cases[] = {
        {{{"Instances", "0"}}, {}},
        {{{"Instances", "1"}}, {kPath0}},
        {{{"Instances", "3"}}, {kPath2, "<null>", "<null>"}},  // a forward-only enumerator refuses Reset
        {{{"Instances", "3"}, {"ResetRewinds", "1"}}, {kPath2, kPath0, kPath1}},  // Wine's own rewinds
        {{{"Instances", "1"}, {"MissingPath", "1"}}, {"<null>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.keys.back().first << "=" << c.keys.back().second);
        const int count = StartQueried(c.keys);
        ASSERT_EQ(static_cast<int>(c.paths.size()), count);
        EXPECT_EQ(count, g_pWmiClient->nInstances);
        if (count == 0) {
            EXPECT_EQ(nullptr, g_pWmiClient->pInstancePaths) << "no table without instances";
        }
        for (int i = 0; i < count; ++i) {
            const BSTR path = g_pWmiClient->pInstancePaths[i];
            EXPECT_EQ(c.paths[i], path == nullptr ? "<null>" : std::string(path, path + ::SysStringLen(path)));
        }
        EXPECT_EQ(1u, scenario->Log("Reset").size()) << "the enumerator is reset once, instances or not";
        EXPECT_EQ(2, SimLiveObjects()) << "enumerator and instances released; locator and namespace kept";
        Finish();
    }
}

TEST_F(WmiClientTest, AFailedQueryWithoutEnumeratorCountsNothingAndNeverEnumerates) {
    DebugOutputCapture debug;
    ASSERT_EQ(0, StartQueried({{"ExecQueryHr", "WBEM_E_FAILED"}}));
    EXPECT_EQ(0, g_pWmiClient->nInstances);
    EXPECT_EQ(nullptr, g_pWmiClient->pInstancePaths);
    EXPECT_TRUE(scenario->Log("Next").empty());
    EXPECT_TRUE(scenario->Log("Reset").empty());
    EXPECT_EQ((std::vector<std::string>{"Query returned 0x80041001:", "Obj count returned 0x80041001:"}),
              debug.texts());
}

// An enumeration step that hands back nothing within the bound is given up as a failed step (not waited
// for without end): the instances counted so far stay, a path after a failed step is not read.
TEST_F(WmiClientTest, AnEnumerationStepThatNeverAnswersIsGivenUp) {
    struct Case {
        const char* key;
        const char* answers;
        int count;
    };
    const Case cases[] = {
        {"Answers.Next", "never", 0},           // the first step stalls
        {"Answers.ExecQuery", "@6000", 0},      // the query's results come after the bound
        {"Answers.Next", "S_OK, never", 1},     // the step after the instance stalls
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answers);
        DebugOutputCapture debug;
        ASSERT_EQ(c.count, StartQueried({{c.key, c.answers}}));
        EXPECT_EQ("Obj count returned 0x80041069:", debug.texts().at(1)) << "WBEM_E_TIMED_OUT: a failed step";
        const std::vector<SimLogEntry> steps = scenario->Log("Next");
        ASSERT_EQ(static_cast<size_t>(c.count) + 1, steps.size() - (c.count > 0 ? 1 : 0));
        EXPECT_EQ("0x40004", steps[c.count]["hr"]) << "WBEM_S_TIMEDOUT";
        EXPECT_LE(std::stoi(steps[c.count]["timeout"]), 3000);
        if (c.count > 0) {
            EXPECT_EQ(nullptr, g_pWmiClient->pInstancePaths[0]);
        }
        Finish();
    }
}

}  // namespace
