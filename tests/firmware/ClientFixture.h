// What the client's tests share: COM prepared once per program as the dialog prepares it, and a fresh
// client per test that must leave no simulated object alive when it is deleted.
#pragma once

#include "firmware/WmiClient.h"
#include "tests/sim/SimHarness.h"

#include <gtest/gtest.h>

#include <memory>

// A test with its own scenario and its own WmiClient in g_pWmiClient.
class ClientTest : public ::testing::Test {
protected:
    // Joins the multithreaded apartment and sets COM security, once per program.
    static void SetUpTestSuite() {
        static const bool prepared = (InitComSecurity(), true);
        (void)prepared;
    }

    // Writes the scenario and creates the client (not yet connected).
    void Start(const SimKeys& keys = {}) {
        scenario = std::make_unique<SimScenarioFile>(keys);
        g_pWmiClient = new WmiClient();
    }

    // Starts, connects to root\wmi and queries the class, as the dialog does; the instance count.
    int StartQueried(const SimKeys& keys = {}) {
        Start(keys);
        return ConnectNamespace(L"root\\wmi") ? QueryInstances(L"TolvekManagement") : -1;
    }

    // Deletes the client, which releases all it holds: the simulator must then have nothing alive.
    void Finish() {
        delete g_pWmiClient;
        g_pWmiClient = nullptr;
        if (scenario != nullptr) {
            EXPECT_EQ(0, SimLiveObjects()) << "simulated objects left alive";
        }
        scenario.reset();
    }

    void TearDown() override { Finish(); }

    std::unique_ptr<SimScenarioFile> scenario;
};
