// The WMI client and the firmware's method calls against the simulator: what reaches WMI, in which order,
// how each answer is taken, the retries, and the objects released.
#include "firmware/FirmwareCalls.h"
#include "firmware/WmiClient.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

const std::string kPath = "\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_";
constexpr int kUnwritten = 0x7777;  // a status word no call may leave behind

class FirmwareTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitComSecurity(); }

    // A fresh client on its own scenario, connected and queried as the dialog does; the instance count.
    int Start(const std::string& scenario) {
        Finish();
        static int runs = 0;
        m_run = std::make_unique<SimRun>(FreshFolder("firmware-" + std::to_string(++runs)));
        m_run->Scenario(scenario);
        g_pWmiClient = new WmiClient();
        return ConnectNamespace(L"root\\wmi") ? QueryInstances(L"TolvekManagement") : -1;
    }

    void Finish() {
        delete g_pWmiClient;
        g_pWmiClient = nullptr;
    }
    void TearDown() override { Finish(); }

    std::unique_ptr<SimRun> m_run;
};

TEST_F(FirmwareTest, ComInTheMultithreadedApartmentAndOnlySOkFromConnectServerAsAConnection) {
    EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE) << "not a change of model";
    EXPECT_EQ(Start("ConnectHr=WBEM_S_FALSE"), -1);
    EXPECT_FALSE(g_pWmiClient->bConnected);
    EXPECT_EQ(g_pWmiClient->pServices.Get(), nullptr);
    EXPECT_EQ(QueryInstances(L"TolvekManagement"), 0);
    EXPECT_TRUE(m_run->Log("ExecQuery").empty());
}

TEST_F(FirmwareTest, QueryCountsTheInstancesKeepsTheLastCountedOneFirstAndBoundsItsText) {
    ASSERT_EQ(Start("Instances=3"), 3);
    const SimLogEntry query = m_run->Log("ExecQuery").at(0);
    EXPECT_EQ(query["lang"] + ": " + query["query"], "WQL: Select * From TolvekManagement");
    EXPECT_EQ(query["flags"], "0x30") << "forward only, returning at once";
    // A forward-only enumerator refuses to rewind: only the last object counted has its path.
    const BSTR* paths = g_pWmiClient->pInstancePaths;
    ASSERT_NE(paths, nullptr);
    EXPECT_EQ(std::string(paths[0], paths[0] + ::SysStringLen(paths[0])), kPath + "2\"");
    EXPECT_EQ(paths[1], nullptr);
    EXPECT_EQ(paths[2], nullptr);
    EXPECT_EQ(QueryInstances(std::wstring(300, L'X').c_str()), 0);
    ASSERT_EQ(m_run->Log("ExecQuery").size(), 2u);
    EXPECT_EQ(m_run->Log("ExecQuery")[1]["query"], "Select * From " + std::string(185, 'X')) << "cut to its room";
}

TEST_F(FirmwareTest, SetDeviceControlPutsBothValuesAndExecutesOnTheFoundPath) {
    ASSERT_EQ(Start(""), 1);
    EXPECT_EQ(SetDeviceControl(3), S_OK);
    std::vector<SimLogEntry> calls;
    for (const SimLogEntry& entry : m_run->Log())
        if (entry.event != "Free" && (!calls.empty() || entry.event == "GetObject")) calls.push_back(entry);
    std::string events;
    for (const SimLogEntry& call : calls) events += call.event + " ";
    ASSERT_EQ(events, "GetObject GetMethod SpawnInstance Put Put ExecMethod ");
    EXPECT_EQ(calls[0]["path"], "TolvekManagement");
    EXPECT_EQ(calls[1]["name"], "device_ctrl");
    EXPECT_EQ(calls[1]["outsig"], "<null>");
    EXPECT_EQ(calls[2]["this"], calls[1]["in"]) << "in-parameters spawned from the method's definition";
    for (int i : {3, 4}) {
        EXPECT_EQ(calls[i]["this"], calls[2]["out"]);
        EXPECT_EQ(calls[i]["vt"] + " " + calls[i]["type"], "3 0") << "VT_I4, its own type deciding";
    }
    EXPECT_EQ(calls[3]["name"] + "=" + calls[3]["value"], "ctrl_param=3");
    EXPECT_EQ(calls[4]["name"] + "=" + calls[4]["value"], "device_id=393249");
    EXPECT_EQ(calls[5]["path"], kPath + "0\"");
    EXPECT_EQ(calls[5]["method"], "device_ctrl");
    EXPECT_EQ(calls[5]["in"], calls[2]["out"]);
    EXPECT_TRUE(g_pWmiClient->params.empty());
}

TEST_F(FirmwareTest, OnlyAnIntegerStatusIsAStatusWord) {
    for (const auto& [type, isWord] : std::vector<std::pair<std::string, bool>>{
             {"I4", true}, {"UI4", true}, {"I8", true}, {"BSTR", false}, {"R8", false}, {"NULL", false}, {"MISSING", false}}) {
        SCOPED_TRACE(type);
        ASSERT_EQ(Start("StatusWord=65537;StatusType=" + type), 1);
        int status = kUnwritten;
        EXPECT_EQ(SUCCEEDED(GetDeviceStatus(status)), isWord);
        EXPECT_EQ(status, isWord ? 0x10001 : kUnwritten);
        EXPECT_EQ(m_run->Log("Put")[0]["value"], "393249") << "device_id";
    }
}

TEST_F(FirmwareTest, StepsBeforeTheMethodMustAnswerSOk) {
    for (const char* step : {"GetObjectHr", "GetMethodHr", "SpawnInstanceHr"}) {
        SCOPED_TRACE(step);
        ASSERT_EQ(Start(std::string(step) + "=WBEM_S_FALSE"), 1);  // a success code, with the object
        EXPECT_EQ(SetDeviceControl(1), WBEM_S_FALSE);
        EXPECT_TRUE(m_run->Log("ExecMethod").empty());
        EXPECT_TRUE(g_pWmiClient->params.empty());
    }
}

TEST_F(FirmwareTest, AStatusCallThatExecutesNothingNeverReportsAnEarlierAnswer) {
    ASSERT_EQ(Start("StatusWord=65537"), 1);
    int status = kUnwritten;
    ASSERT_EQ(GetDeviceStatus(status), S_OK);
    m_run->Scenario("GetObjectHr=WBEM_S_FALSE");
    ASSERT_TRUE(ConnectNamespace(L"root\\wmi"));  // the same client, on a namespace that now stops early
    status = kUnwritten;
    EXPECT_TRUE(FAILED(GetDeviceStatus(status)));
    EXPECT_EQ(status, kUnwritten);
}

TEST_F(FirmwareTest, AFailingMethodIsTriedSevenTimesHalfASecondApart) {
    ASSERT_EQ(Start("ExecMethodFailures=-1;ExecMethodFailHr=WBEM_E_TRANSPORT_FAILURE"), 1);
    EXPECT_EQ(SetDeviceControl(1), WBEM_E_TRANSPORT_FAILURE);
    const std::vector<SimLogEntry> attempts = m_run->Log("ExecMethod");
    ASSERT_EQ(attempts.size(), 7u);
    for (size_t i = 1; i < attempts.size(); ++i) EXPECT_GE(attempts[i].t() - attempts[i - 1].t(), 450) << i;
    ASSERT_EQ(Start("ExecMethodFailures=1"), 1);
    EXPECT_EQ(SetDeviceControl(1), S_OK);
    EXPECT_EQ(m_run->Log("ExecMethod").size(), 2u) << "a success ends the retries";
}

}  // namespace
