// What each step of the tool's start-up costs in a fresh process, in the tool's order and through the
// tool's own code: COM set-up, security, the client record, the locator and connection, query, the status call, the language
// file (the texts and the description the dialog reads), the registry (the stored mode read and
// written). Prints one line of microseconds, one number per step.
//   pelloran_bench_steps <language file>
#include "firmware/FirmwareCalls.h"
#include "firmware/WmiClient.h"
#include "lang/LangFile.h"
#include "lang/Language.h"
#include "prefs/ModePreference.h"
#include "sim/MonotonicClock.h"

#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: pelloran_bench_steps <language file>\n");
        return 2;
    }
    const std::wstring languageFile = argv[1];
    double t = NowSeconds();
    double step[8];
    auto lap = [&t](double& into) {
        const double now = NowSeconds();
        into = 1e6 * (now - t);
        t = now;
    };

    // In the tool's order: the texts first, then COM and WMI, the status, the stored mode.
    const int language = LanguageNumberFromLangId(::GetUserDefaultLangID());
    for (int key : {kKeyStatusLabel, kKeyOnText, kKeyOffText, kKeyAdapterMode, kKeyAdapterBatteryMode})
        ReadLangValue(language, key, languageFile, kShortTextRoom);
    std::wstring description;
    for (int key : kDescriptionKeys) AppendLangValue(description, language, key, languageFile);
    lap(step[6]);
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    lap(step[0]);
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE,
                           nullptr, EOAC_SECURE_REFS, nullptr);
    lap(step[1]);
    g_pWmiClient = new WmiClient();
    lap(step[2]);
    ConnectNamespace(L"root\\wmi", Deadline(kFirmwareBoundMs));  // the locator and the connection, made on a worker thread
    lap(step[3]);
    QueryInstances(L"TolvekManagement", Deadline(kFirmwareBoundMs));
    lap(step[4]);
    int status = 0;
    GetDeviceStatus(status, Deadline(kFirmwareBoundMs));
    lap(step[5]);
    int mode = 0;
    AccessModePreference(MODE_PREFERENCE_READ, mode);
    AccessModePreference(MODE_PREFERENCE_WRITE, mode);
    lap(step[7]);

    for (double us : step) std::printf("%.0f ", us);
    std::printf("\n");
    ReleaseWmiObjects();
    ::CoUninitialize();
    return 0;
}
