// The firmware simulator on its own, driven through plain WMI calls: what it refuses and what it keeps
// between runs.
#include "firmware/ComHelpers.h"
#include "tests/sim/SimHarness.h"

#include <gtest/gtest.h>
#include <wbemidl.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t kPath0[] = L"\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_0\"";
constexpr LONG kDeviceId = 0x60021;

// A parameter as the caller puts it: its name and its value, a VT_I4.
using Param = std::pair<const wchar_t*, LONG>;

// One locator and namespace of the simulator, used the way a WMI client would use them.
class SimSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

    // Makes a locator (which reads the scenario now) and connects it to root\wmi.
    void Open() {
        services.Reset();
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                           reinterpret_cast<void**>(locator.ReleaseAndGetAddressOf())));
        ASSERT_EQ(S_OK, locator->ConnectServer(Bstr(L"root\\wmi"), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                               services.GetAddressOf()));
    }

    // Executes a method on a path with fresh in-parameters; out receives the out-parameters.
    HRESULT Exec(const wchar_t* method, const std::vector<Param>& params, const wchar_t* path = kPath0,
                 IWbemClassObject** out = nullptr) {
        ComPtr<IWbemClassObject> definition, signature, in;
        if (FAILED(services->GetObject(Bstr(L"TolvekManagement"), 0, nullptr, definition.GetAddressOf(), nullptr)) ||
            FAILED(definition->GetMethod(method, 0, signature.GetAddressOf(), nullptr)) ||
            FAILED(signature->SpawnInstance(0, in.GetAddressOf())))
            return E_UNEXPECTED;
        for (const auto& [name, value] : params) {
            Variant variant(value);
            in->Put(name, 0, const_cast<VARIANT*>(&variant.get()), 0 /* the VARIANT's type */);
        }
        return services->ExecMethod(Bstr(path), Bstr(method), 0, nullptr, in.Get(), out, nullptr);
    }

    // The status word as device_status hands it back; -1 when the call fails.
    LONG Status() {
        ComPtr<IWbemClassObject> out;
        Variant word;
        if (FAILED(Exec(L"device_status", {{L"device_id", kDeviceId}}, kPath0, out.GetAddressOf())) ||
            FAILED(out->Get(L"ctrl_param", 0, word.Receive(), nullptr, nullptr)))
            return -1;
        return V_VT(&word.get()) == VT_I4 ? V_I4(&word.get()) : -1;
    }

    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
};

TEST_F(SimSessionTest, RefusesAWrongDeviceOrControlValueAndChangesNothing) {
    SimScenarioFile scenario;
    Open();
    struct Case {
        const char* what;
        std::vector<Param> params;
        const wchar_t* path;
        HRESULT hr;
    };
    const Case cases[] = {
        {"wrong device id", {{L"device_id", 0x60022}, {L"ctrl_param", 1}}, kPath0, AsHr(WBEM_E_INVALID_PARAMETER)},
        {"control value 2", {{L"device_id", kDeviceId}, {L"ctrl_param", 2}}, kPath0, AsHr(WBEM_E_INVALID_PARAMETER)},
        {"no control value", {{L"device_id", kDeviceId}}, kPath0, AsHr(WBEM_E_INVALID_PARAMETER)},
        {"unknown instance", {{L"device_id", kDeviceId}, {L"ctrl_param", 1}},
         L"TolvekManagement.InstanceName=\"Tolvek_9\"", AsHr(WBEM_E_NOT_FOUND)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.hr, Exec(L"device_ctrl", c.params, c.path));
        EXPECT_EQ(0x10000, Status()) << "present and off, as before";
    }
}

TEST_F(SimSessionTest, KeepsTheFeatureStateBetweenRuns) {
    SimScenarioFile scenario;
    Open();
    ASSERT_EQ(S_OK, Exec(L"device_ctrl", {{L"device_id", kDeviceId}, {L"ctrl_param", 3}}));
    Open();  // a new locator: a new run of the program
    EXPECT_EQ(0x10003, Status());
}

}  // namespace
