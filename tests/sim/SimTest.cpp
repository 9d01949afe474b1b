// The firmware simulator on its own, driven through plain WMI calls: what it refuses, what it keeps
// between runs, what it counts and what its scenarios change.
#include "tests/sim/SimHarness.h"

#include <gtest/gtest.h>
#include <wbemidl.h>
#include <wrl/client.h>

#include <cstring>
#include <memory>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t kPath0[] = L"\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_0\"";
constexpr LONG kDeviceId = 0x60021;

// A parameter as the caller puts it: its name and VARIANT.
struct Param {
    const wchar_t* name;
    VARTYPE type;
    LONG value;
};

// One locator and namespace of the simulator, used the way a WMI client would use them.
class SimSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

    // Makes a locator (which reads the scenario now) and connects it to root\wmi.
    void Open() {
        services.Reset();
        locator.Reset();
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_WbemLocator, nullptr /* no outer object */, CLSCTX_INPROC_SERVER,
                                           IID_IWbemLocator, reinterpret_cast<void**>(locator.GetAddressOf())));
        BSTR ns = ::SysAllocString(L"root\\wmi");
        const HRESULT hr = locator->ConnectServer(ns, nullptr /* user */, nullptr /* password */,
                                                  nullptr /* locale */, 0 /* flags */, nullptr /* authority */,
                                                  nullptr /* context */, services.GetAddressOf());
        ::SysFreeString(ns);
        ASSERT_EQ(S_OK, hr);
    }

    // Spawns the method's in-parameters and puts the parameters into them.
    ComPtr<IWbemClassObject> InParams(const wchar_t* method, const std::vector<Param>& params) {
        ComPtr<IWbemClassObject> definition, signature, in;
        BSTR className = ::SysAllocString(L"TolvekManagement");
        services->GetObject(className, 0 /* flags */, nullptr /* context */, definition.GetAddressOf(),
                            nullptr /* no call result */);
        ::SysFreeString(className);
        if (definition == nullptr) return in;
        definition->GetMethod(method, 0 /* flags */, signature.GetAddressOf(), nullptr /* no out signature */);
        if (signature == nullptr) signature = definition;  // an unknown method: let ExecMethod refuse it
        signature->SpawnInstance(0 /* flags */, in.GetAddressOf());
        for (const Param& param : params) {
            VARIANT value;
            ::VariantInit(&value);
            V_VT(&value) = param.type;
            if (param.type == VT_I2)
                V_I2(&value) = static_cast<SHORT>(param.value);
            else
                V_I4(&value) = param.value;
            in->Put(param.name, 0 /* flags */, &value, 0 /* the VARIANT's type */);
        }
        return in;
    }

    // Executes a method with an in-parameter object on a path; out receives the out-parameters.
    HRESULT Exec(const wchar_t* method, IWbemClassObject* in, const wchar_t* path = kPath0,
                 ComPtr<IWbemClassObject>* out = nullptr) {
        BSTR methodName = ::SysAllocString(method);
        BSTR objectPath = ::SysAllocString(path);
        ComPtr<IWbemClassObject> outParams;
        const HRESULT hr = services->ExecMethod(objectPath, methodName, 0 /* flags */, nullptr /* context */, in,
                                                outParams.GetAddressOf(), nullptr /* no call result */);
        ::SysFreeString(objectPath);
        ::SysFreeString(methodName);
        if (out != nullptr) *out = outParams;
        return hr;
    }

    // Executes a method with fresh in-parameters.
    HRESULT Exec(const wchar_t* method, const std::vector<Param>& params, const wchar_t* path = kPath0) {
        return Exec(method, InParams(method, params).Get(), path);
    }

    // The status word as device_status hands it back; -1 when the call fails.
    LONG Status() {
        ComPtr<IWbemClassObject> out;
        if (FAILED(Exec(L"device_status", InParams(L"device_status", {{L"device_id", VT_I4, kDeviceId}}).Get(),
                        kPath0, &out)))
            return -1;
        VARIANT word;
        ::VariantInit(&word);
        out->Get(L"ctrl_param", 0 /* flags */, &word, nullptr /* no type */, nullptr /* no flavour */);
        const LONG status = V_VT(&word) == VT_I4 ? V_I4(&word) : -1;
        ::VariantClear(&word);
        return status;
    }

    void TearDown() override {
        services.Reset();
        locator.Reset();
        EXPECT_EQ(0, SimLiveObjects()) << "every simulated object goes with its last reference";
    }

    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
};

TEST_F(SimSessionTest, RefusesAWrongDeviceOrControlValueAndChangesNothing) {
    SimScenarioFile scenario;
    Open();
    struct Case {
        const char* what;
        const wchar_t* method;
        std::vector<Param> params;
        const wchar_t* path;
        HRESULT hr;
    };
    const Case cases[] = {
        {"wrong device id", L"device_ctrl", {{L"device_id", VT_I4, 0x60022}, {L"ctrl_param", VT_I4, 1}}, kPath0,
         AsHr(WBEM_E_INVALID_PARAMETER)},
        {"control value 2", L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}, {L"ctrl_param", VT_I4, 2}}, kPath0,
         AsHr(WBEM_E_INVALID_PARAMETER)},
        {"control value -1", L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}, {L"ctrl_param", VT_I4, -1}}, kPath0,
         AsHr(WBEM_E_INVALID_PARAMETER)},
        {"control value as VT_I2", L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}, {L"ctrl_param", VT_I2, 1}},
         kPath0, AsHr(WBEM_E_INVALID_PARAMETER)},
        {"no control value", L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}}, kPath0, AsHr(WBEM_E_INVALID_PARAMETER)},
        {"status of a wrong device", L"device_status", {{L"device_id", VT_I4, 0}}, kPath0, AsHr(WBEM_E_INVALID_PARAMETER)},
        {"unknown method", L"device_reset", {}, kPath0, AsHr(WBEM_E_INVALID_METHOD)},
        {"unknown instance", L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}, {L"ctrl_param", VT_I4, 1}},
         L"TolvekManagement.InstanceName=\"Tolvek_9\"", AsHr(WBEM_E_NOT_FOUND)},
        {"no path", L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}, {L"ctrl_param", VT_I4, 1}}, nullptr,
         AsHr(WBEM_E_INVALID_PARAMETER)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.hr, Exec(c.method, c.params, c.path));
        EXPECT_EQ(0x10000, Status()) << "present and off, as before";
    }
    EXPECT_EQ("", scenario.StateText()) << "nothing was ever stored";
    // The relative path names the same instance as the full one.
    EXPECT_EQ(S_OK, Exec(L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}, {L"ctrl_param", VT_I4, 1}},
                         L"TolvekManagement.InstanceName=\"Tolvek_0\""));
    EXPECT_EQ(0x10001, Status());
}

TEST_F(SimSessionTest, KeepsTheFeatureStateBetweenRuns) {
    SimScenarioFile scenario;
    Open();
    EXPECT_EQ(0x10000, Status());
    ASSERT_EQ(S_OK, Exec(L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}, {L"ctrl_param", VT_I4, 3}}));
    services.Reset();
    locator.Reset();
    EXPECT_EQ(0, SimLiveObjects());

    Open();  // a new locator: a new run of the program
    EXPECT_EQ(0x10003, Status());
    EXPECT_NE(std::string::npos, scenario.StateText().find("StatusWord=0x10003"));
    ASSERT_EQ(S_OK, Exec(L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}, {L"ctrl_param", VT_I4, 0}}));
    EXPECT_EQ(0x10000, Status());
}

TEST_F(SimSessionTest, WithoutScenarioTheEnvironmentNamesStateAndLog) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring base = std::wstring(temp) + L"PelloranSim-env-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring state = base + L".state", log = base + L".log";
    ::DeleteFileW(state.c_str());
    ::DeleteFileW(log.c_str());
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", nullptr);
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_STATE", state.c_str());
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_LOG", log.c_str());
    Open();
    EXPECT_EQ(0x10000, Status()) << "the demo starts present and off";
    EXPECT_EQ(S_OK, Exec(L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}, {L"ctrl_param", VT_I4, 1}}));

    wchar_t word[32] = L"";
    ::GetPrivateProfileStringW(L"Firmware", L"StatusWord", L"", word, 32, state.c_str());
    EXPECT_STREQ(L"0x10001", word);
    const HANDLE file = ::CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr /* default security */, OPEN_EXISTING, 0, nullptr /* no template */);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    char text[8192] = {};
    DWORD read = 0;
    ::ReadFile(file, text, sizeof(text) - 1, &read, nullptr /* not overlapped */);
    ::CloseHandle(file);
    EXPECT_NE(nullptr, std::strstr(text, "\tExecMethod\t")) << "the calls went to the log the environment named";

    ::SetEnvironmentVariableW(L"PELLORAN_SIM_STATE", nullptr);
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_LOG", nullptr);
    ::DeleteFileW(state.c_str());
    ::DeleteFileW(log.c_str());
}

TEST_F(SimSessionTest, CountsLiveObjectsAndLogsTheCountWhenAskedToUnload) {
    SimScenarioFile scenario;
    Open();
    using CanUnloadNow = HRESULT(WINAPI*)();
    const auto canUnloadNow = reinterpret_cast<CanUnloadNow>(
        ::GetProcAddress(::GetModuleHandleW(L"PelloranSim.dll"), "DllCanUnloadNow"));
    ASSERT_NE(nullptr, canUnloadNow);

    ComPtr<IWbemClassObject> in = InParams(L"device_status", {{L"device_id", VT_I4, kDeviceId}});
    EXPECT_EQ(3, SimLiveObjects()) << "locator, namespace, in-parameters (definitions already released)";
    EXPECT_EQ(S_FALSE, canUnloadNow());
    services.Reset();
    locator.Reset();
    EXPECT_EQ(1, SimLiveObjects()) << "the in-parameters do not keep the namespace alive";
    in.Reset();
    EXPECT_EQ(0, SimLiveObjects());
    EXPECT_EQ(S_OK, canUnloadNow());

    const std::vector<SimLogEntry> unload = scenario.Log("CanUnloadNow");
    ASSERT_EQ(2u, unload.size());
    EXPECT_EQ("3", unload[0]["live"]);
    EXPECT_EQ("0x1", unload[0]["hr"]);
    EXPECT_EQ("0", unload[1]["live"]);
    EXPECT_EQ("0x0", unload[1]["hr"]);
}

TEST_F(SimSessionTest, FailuresCanBeLimitedToOneMethodAndCountedPerCall) {
    SimScenarioFile scenario(
        SimKeys{{"ExecMethodFailures", "1"}, {"ExecMethodFailOnly", "device_ctrl"}, {"ExecMethodFailuresPerCall", "1"}});
    Open();
    EXPECT_EQ(0x10000, Status()) << "device_status is never made to fail";
    for (int call = 0; call < 2; ++call) {
        ComPtr<IWbemClassObject> in =
            InParams(L"device_ctrl", {{L"device_id", VT_I4, kDeviceId}, {L"ctrl_param", VT_I4, 1}});
        EXPECT_EQ(AsHr(WBEM_E_FAILED), Exec(L"device_ctrl", in.Get())) << "first attempt of call " << call;
        EXPECT_EQ(S_OK, Exec(L"device_ctrl", in.Get())) << "second attempt of call " << call;
    }
}

TEST_F(SimSessionTest, LatencyDelaysEveryCall) {
    SimScenarioFile scenario(SimKeys{{"LatencyMs", "150"}});
    Open();
    const long long start = NowMs();
    ComPtr<IWbemClassObject> in = InParams(L"device_status", {{L"device_id", VT_I4, kDeviceId}});
    const long long prepared = NowMs();
    EXPECT_EQ(S_OK, Exec(L"device_status", in.Get()));
    EXPECT_GE(prepared - start, 4 * 140) << "GetObject, GetMethod, SpawnInstance and Put";
    EXPECT_GE(NowMs() - prepared, 140) << "ExecMethod";
}

}  // namespace
