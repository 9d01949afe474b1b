// The client against Wine's own WMI, in a prefix where no simulator stands in for it.
#include "firmware/WmiClient.h"
#include "tests/sim/SimHarness.h"

#include <gtest/gtest.h>

TEST(WineWmi, ConnectsToRootWmiAndFindsNoFirmwareInstance) {
    InitComSecurity();
    g_pWmiClient = new WmiClient();
    DebugOutputCapture debug;

    ASSERT_TRUE(ConnectNamespace(L"root\\wmi"));
    EXPECT_EQ(nullptr, ::GetModuleHandleW(L"PelloranSim.dll")) << "the prefix must use Wine's own locator";
    EXPECT_TRUE(g_pWmiClient->bConnected);
    EXPECT_EQ(0, QueryInstances(L"TolvekManagement"));
    EXPECT_EQ(nullptr, g_pWmiClient->pInstancePaths);
    // Wine answers with an empty enumerator: the query succeeds and the first Next ends it.
    EXPECT_EQ((std::vector<std::string>{"Query returned 0x0:", "Obj count returned 0x1:"}), debug.texts());

    delete g_pWmiClient;
    g_pWmiClient = nullptr;
    ::CoUninitialize();
}
