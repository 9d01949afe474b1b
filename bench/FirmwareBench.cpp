// What one SetDeviceControl costs through the client, beside a bare ExecMethod on the same simulated
// firmware (no latency, state in memory, no log), measured side by side in one run.
#include "firmware/FirmwareCalls.h"
#include "firmware/PelloranCodes.h"
#include "firmware/WmiClient.h"
#include "sim/MonotonicClock.h"

#include <windows.h>
#include <wbemidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kRounds = 21;
constexpr int kCallsPerRound = 300;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A VT_I4 VARIANT.
VARIANT Int32(LONG value) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

// The in-parameters of device_ctrl, made once the way the client makes them for every call.
ComPtr<IWbemClassObject> ControlInParams(IWbemServices* services) {
    ComPtr<IWbemClassObject> definition, signature, in;
    services->GetObject(g_pWmiClient->bstrClass, 0 /* flags */, nullptr /* no context */, definition.GetAddressOf(),
                        nullptr /* no call result */);
    if (definition == nullptr) return in;
    definition->GetMethod(L"device_ctrl", 0 /* flags */, signature.GetAddressOf(), nullptr /* no out signature */);
    if (signature == nullptr) return in;
    signature->SpawnInstance(0 /* flags */, in.GetAddressOf());
    VARIANT control = Int32(PELLORAN_CTRL_ADAPTER), device = Int32(PELLORAN_DEVICE_ID);
    in->Put(L"ctrl_param", 0 /* flags */, &control, 0 /* the VARIANT's type */);
    in->Put(L"device_id", 0 /* flags */, &device, 0 /* the VARIANT's type */);
    return in;
}

}  // namespace

int main() {
    // The simulator with its defaults, its state kept in memory and no call log.
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", nullptr);
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_LOG", nullptr);
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_STATE", L"none");

    InitComSecurity();
    g_pWmiClient = new WmiClient();
    if (!ConnectNamespace(L"root\\wmi", Deadline(kFirmwareBoundMs)) || QueryInstances(L"TolvekManagement", Deadline(kFirmwareBoundMs)) != 1 ||
        ::GetModuleHandleW(L"PelloranSim.dll") == nullptr) {
        std::fprintf(stderr, "bench: the firmware simulator is not the WMI locator of this prefix\n");
        return 1;
    }
    IWbemServices* services = g_pWmiClient->pServices.Get();
    const BSTR path = g_pWmiClient->pInstancePaths[0];
    const BSTR method = ::SysAllocString(L"device_ctrl");
    const ComPtr<IWbemClassObject> in = ControlInParams(services);
    if (in == nullptr) return 1;

    // The client's whole round trip.
    auto roundTrips = [] {
        HRESULT worst = S_OK;
        for (int i = 0; i < kCallsPerRound; ++i) worst = std::min(worst, SetDeviceControl(PELLORAN_CTRL_ADAPTER, Deadline(kFirmwareBoundMs)));
        return worst;
    };
    // The one WMI call inside it, on prepared in-parameters.
    auto bareCalls = [&] {
        HRESULT worst = S_OK;
        for (int i = 0; i < kCallsPerRound; ++i) {
            ComPtr<IWbemClassObject> out;
            worst = std::min(worst, services->ExecMethod(path, method, 0 /* flags */, nullptr /* no context */, in.Get(),
                                                         out.GetAddressOf(), nullptr /* no call result */));
        }
        return worst;
    };

    roundTrips();  // warm both paths up once
    bareCalls();
    std::vector<double> clientUs, bareUs, ratios;
    for (int round = 0; round < kRounds; ++round) {
        double client = 0, bare = 0;
        HRESULT hr = S_OK;
        // Alternate which goes first, so that neither always runs on a warmer machine.
        for (int turn = 0; turn < 2; ++turn) {
            const bool clientTurn = (turn == 0) == (round % 2 == 0);
            const double start = NowSeconds();
            hr = std::min(hr, clientTurn ? roundTrips() : bareCalls());
            (clientTurn ? client : bare) = (NowSeconds() - start) * 1e6 / kCallsPerRound;
        }
        if (FAILED(hr)) {
            std::fprintf(stderr, "bench: a call failed with 0x%lx\n", static_cast<unsigned long>(hr));
            return 1;
        }
        clientUs.push_back(client);
        bareUs.push_back(bare);
        ratios.push_back(client / bare);
    }
    ::SysFreeString(method);

    std::printf("firmware round trip, %d rounds of %d calls each, medians:\n", kRounds, kCallsPerRound);
    std::printf("  SetDeviceControl through the client: %8.2f us per call\n", Median(clientUs));
    std::printf("  bare ExecMethod on the simulator:     %8.2f us per call\n", Median(bareUs));
    std::printf("  ratio client / bare:                  %8.2f (median of the rounds' ratios)\n", Median(ratios));
    return 0;
}
