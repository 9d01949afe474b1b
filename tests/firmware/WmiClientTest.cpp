// The WMI client against the firmware simulator: diagnostics, COM set-up, connection and instance query.
#include "firmware/WmiClient.h"
#include "tests/firmware/ClientFixture.h"

#include <string>

namespace {

::testing::Environment* const kCom = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

const std::string kPath0 = "\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_0\"";
const std::string kPath1 = "\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_1\"";
const std::string kPath2 = "\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_2\"";

// An entry of the path table as narrow text; "<null>" for an entry the query did not fill.
std::string PathEntry(int index) {
    const BSTR path = g_pWmiClient->pInstancePaths[index];
    return path == nullptr ? "<null>" : std::string(path, path + ::SysStringLen(path));
}

using WmiClientTest = ClientTest;

TEST(FormatStepResult, WritesEachDiagnosticTextAndSendsItToTheDebugger) {
    struct Case {
        const wchar_t* format;
        HRESULT hr;
        const wchar_t* text;
    };
    const Case cases[] = {
        {L"CoInitialize returned 0x%x:", E_FAIL, L"CoInitialize returned 0x80004005:"},
        {L"CoInitializeSecurity returned 0x%x:", RPC_E_TOO_LATE, L"CoInitializeSecurity returned 0x80010119:"},
        {L"Query returned 0x%x:", S_OK, L"Query returned 0x0:"},
        {L"Obj count returned 0x%x:", WBEM_S_FALSE, L"Obj count returned 0x1:"},
        {L"GetObject returned 0x%x:", AsHr(WBEM_E_NOT_FOUND), L"GetObject returned 0x80041002:"},
        {L"SpawnInstance returned 0x%x:", AsHr(WBEM_E_FAILED), L"SpawnInstance returned 0x80041001:"},
        {L"ExecMethod returned 0x%x:", AsHr(WBEM_E_INVALID_PARAMETER), L"ExecMethod returned 0x80041008:"},
    };
    for (const Case& c : cases) {
        DebugOutputCapture debug;
        wchar_t buffer[100];
        std::wmemset(buffer, L'#', 100);
        FormatStepResult(buffer, c.format, c.hr);
        EXPECT_STREQ(c.text, buffer);
        ASSERT_EQ(1u, debug.texts().size()) << "one debugger text per step";
        EXPECT_EQ(std::string(c.text, c.text + std::wcslen(c.text)), debug.texts()[0]);
    }
}

TEST_F(WmiClientTest, ComSetUpPutsTheThreadIntoTheMultithreadedApartment) {
    // Asking for a single-threaded apartment now must be refused as a change of model.
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr)) ::CoUninitialize();
    EXPECT_EQ(RPC_E_CHANGED_MODE, hr);
}

TEST_F(WmiClientTest, ConnectsToRootWmiWithTheCallersOwnCredentials) {
    Start();
    ASSERT_TRUE(ConnectNamespace(L"root\\wmi"));
    EXPECT_TRUE(g_pWmiClient->bConnected);
    EXPECT_NE(nullptr, g_pWmiClient->pServices.Get());
    const std::vector<SimLogEntry> connect = scenario->Log("ConnectServer");
    ASSERT_EQ(1u, connect.size());
    EXPECT_EQ("root\\wmi", connect[0]["namespace"]);
    EXPECT_EQ("<null>", connect[0]["user"]);
    EXPECT_EQ("<null>", connect[0]["locale"]);
    EXPECT_EQ("<null>", connect[0]["authority"]);
    EXPECT_EQ("0x0", connect[0]["flags"]);
    EXPECT_EQ(2, SimLiveObjects()) << "the locator and the namespace, nothing else";
}

TEST_F(WmiClientTest, ARefusedOrUnknownNamespaceLeavesTheClientUnconnected) {
    struct Case {
        const char* connectHr;  // the simulator's answer to ConnectServer
        const wchar_t* ns;
    };
    // A refusal, a success code other than S_OK (which still hands back a namespace) and a namespace
    // that does not exist.
    const Case cases[] = {{"WBEM_E_ACCESS_DENIED", L"root\\wmi"}, {"WBEM_S_FALSE", L"root\\wmi"}, {"0", L"root\\nowhere"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connectHr);
        Start({{"ConnectHr", c.connectHr}});
        EXPECT_FALSE(ConnectNamespace(c.ns));
        EXPECT_FALSE(g_pWmiClient->bConnected);
        EXPECT_EQ(nullptr, g_pWmiClient->pServices.Get());
        EXPECT_EQ(1, SimLiveObjects()) << "only the locator stays";
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
        const char* instances;
        const char* resetRewinds;  // 0: Reset refused, as WMI does for a forward-only enumerator
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"0", "0", {}},
        {"1", "0", {kPath0}},
        {"3", "0", {kPath2, "<null>", "<null>"}},
        {"3", "1", {kPath2, kPath0, kPath1}},  // a rewinding enumerator fills the later entries
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("instances ") + c.instances + ", rewinds " + c.resetRewinds);
        const int count = StartQueried({{"Instances", c.instances}, {"ResetRewinds", c.resetRewinds}});
        ASSERT_EQ(static_cast<int>(c.paths.size()), count);
        EXPECT_EQ(count, g_pWmiClient->nInstances);
        if (count == 0) {
            EXPECT_EQ(nullptr, g_pWmiClient->pInstancePaths) << "no table without instances";
        }
        for (int i = 0; i < count; ++i) EXPECT_EQ(c.paths[i], PathEntry(i)) << "entry " << i;
        EXPECT_EQ(1u, scenario->Log("Reset").size()) << "the enumerator is reset once, instances or not";
        EXPECT_EQ(2, SimLiveObjects()) << "enumerator and instances released; locator and namespace kept";
        Finish();
    }
}

TEST_F(WmiClientTest, AnInstanceWithoutPathLeavesItsEntryNull) {
    ASSERT_EQ(1, StartQueried({{"MissingPath", "1"}}));
    EXPECT_EQ(nullptr, g_pWmiClient->pInstancePaths[0]);
    EXPECT_EQ(2, SimLiveObjects());
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

TEST_F(WmiClientTest, AnOverlongClassNameIsCutToTheQueryBuffer) {
    Start();
    ASSERT_TRUE(ConnectNamespace(L"root\\wmi"));
    const std::wstring longName(300, L'X');
    QueryInstances(longName.c_str());
    const std::vector<SimLogEntry> query = scenario->Log("ExecQuery");
    ASSERT_EQ(1u, query.size());
    EXPECT_EQ("Select * From " + std::string(185, 'X'), query[0]["query"]) << "199 characters and the end mark";
    EXPECT_EQ(300u, ::SysStringLen(g_pWmiClient->bstrClass)) << "the class name itself is kept whole";
}

}  // namespace
