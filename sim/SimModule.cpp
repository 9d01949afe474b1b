// The DLL's entry points: the class object of the WMI locator, the unload check and the live-object count.
// The simulator answers only under Wine: on Windows itself it offers no class at all.
#include "sim/SimModule.h"

#include "sim/SimObjects.h"
#include "sim/SimSession.h"

#include <wbemidl.h>

#include <cwchar>

HMODULE g_simModule = nullptr;

namespace {

LONG g_liveObjects = 0;
LONG g_serverLocks = 0;
LONG g_lastObjectId = 0;

// The kinds of simulated object, and how many of each are alive.
constexpr const wchar_t* kKinds[] = {L"Locator",      L"Services",  L"Enumerator", L"Class",
                                     L"Instance",     L"InSignature", L"OutSignature", L"InParams",
                                     L"OutParams",    L"CallResult"};
constexpr int kKindCount = sizeof(kKinds) / sizeof(kKinds[0]);
LONG g_liveKinds[kKindCount] = {};

// The live objects by kind, e.g. "Locator,Services,InParams"; empty when none is alive.
void LiveKinds(wchar_t (&text)[512]) {
    text[0] = L'\0';
    for (int k = 0; k < kKindCount; ++k)
        for (LONG n = ::InterlockedCompareExchange(&g_liveKinds[k], 0, 0); n > 0; --n) {
            if (text[0] != L'\0') wcsncat(text, L",", 511 - wcslen(text));
            wcsncat(text, kKinds[k], 511 - wcslen(text));
        }
}

// True inside a Wine process (its ntdll exports wine_get_version); the simulator must never stand in
// for the real WMI of a Windows machine.
bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

void SimObjectCreated() { ::InterlockedIncrement(&g_liveObjects); }

void SimObjectDestroyed() { ::InterlockedDecrement(&g_liveObjects); }

LONG SimLiveObjects() { return ::InterlockedCompareExchange(&g_liveObjects, 0, 0); }

void SimNoteKind(const wchar_t* kind, LONG delta) {
    for (int k = 0; k < kKindCount; ++k)
        if (wcscmp(kind, kKinds[k]) == 0) ::InterlockedExchangeAdd(&g_liveKinds[k], delta);
}

long SimNextObjectId() { return ::InterlockedIncrement(&g_lastObjectId); }

LONG SimServerLocks() { return ::InterlockedCompareExchange(&g_serverLocks, 0, 0); }

HRESULT STDMETHODCALLTYPE SimClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    IWbemLocator* locator = SimCreateLocator();
    const HRESULT hr = locator->QueryInterface(riid, ppv);
    locator->Release();  // the caller's reference, if any, keeps it
    return hr;
}

HRESULT STDMETHODCALLTYPE SimClassFactory::LockServer(BOOL lock) {
    if (lock)
        ::InterlockedIncrement(&g_serverLocks);
    else
        ::InterlockedDecrement(&g_serverLocks);
    return S_OK;
}

// Hands out the class factory of CLSID_WbemLocator, the one class the simulator stands in for.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_WbemLocator) || !RunningUnderWine()) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new SimClassFactory();
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

// S_OK when no simulated object is alive and no lock is held; the answer is logged with the count.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    const LONG live = SimLiveObjects();
    const HRESULT hr = live == 0 && SimServerLocks() == 0 ? S_OK : S_FALSE;
    SimModuleLog(L"CanUnloadNow", live, hr, true);
    return hr;
}

// The number of simulated objects alive in this process, for tests that load the simulator themselves.
extern "C" __declspec(dllexport) LONG STDAPICALLTYPE PelloranSimLiveObjects() { return SimLiveObjects(); }

// Keeps the module handle; logs the live count when the DLL leaves the process.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_simModule = instance;
        SimLogInit();
        ::DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH: {
        wchar_t kinds[512];
        LiveKinds(kinds);
        SimModuleLog(L"Detach", SimLiveObjects(), S_OK, false, kinds);
        break;
    }
    default:
        break;
    }
    return TRUE;
}
