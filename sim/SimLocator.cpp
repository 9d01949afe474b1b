// The simulated WMI locator: reads the scenario when it is made, logs the hosting process's DPI awareness, and
// connects to root\wmi.
#include "sim/SimObjects.h"

#include <cwchar>

namespace {

// The locator of one session.
class SimLocator final : public SimObject<IWbemLocator> {
public:
    explicit SimLocator(std::shared_ptr<SimSession> session) : SimObject(std::move(session), L"Locator") {}

    const SimSession& session() const { return *m_session; }

    // Connects to the namespace; only root\wmi exists, and the scenario may refuse even that.
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR strUser,
                                            const BSTR strPassword, const BSTR strLocale, LONG lSecurityFlags,
                                            const BSTR strAuthority, IWbemContext* pCtx,
                                            IWbemServices** ppNamespace) override {
        SimLogLine line = Call(L"ConnectServer");
        line.Text(L"namespace", strNetworkResource)
            .Text(L"user", strUser)
            .Text(L"locale", strLocale)
            .Hex(L"flags", static_cast<unsigned long>(lSecurityFlags))
            .Text(L"authority", strAuthority);
        line.Text(L"apt", SimApartmentName());
        IWbemServices* services = nullptr;
        long servicesId = 0;
        SimAnswer answer = m_session->NextAnswer(L"ConnectServer");
        // With this flag WMI answers within 2 minutes, successful or not.
        if ((lSecurityFlags & WBEM_FLAG_CONNECT_USE_MAX_WAIT) != 0 && (answer.never || answer.delayMs > kMaxWaitMs)) {
            answer.never = false;
            answer.delayMs = kMaxWaitMs;
            answer.hasCode = true;
            answer.hr = WBEM_E_TIMED_OUT;
        }
        SimWaitForAnswer(answer);
        HRESULT hr = answer.hasCode ? answer.hr : S_OK;
        if (ppNamespace == nullptr) {
            hr = WBEM_E_INVALID_PARAMETER;
        } else if (FAILED(hr)) {
            *ppNamespace = nullptr;
        } else if (strNetworkResource == nullptr || !IsSimulatedNamespace(strNetworkResource)) {
            *ppNamespace = nullptr;
            hr = WBEM_E_INVALID_NAMESPACE;
        } else {
            *ppNamespace = services = SimCreateServices(m_session, servicesId);
        }
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Id(L"out", servicesId).Write();
        return hr;
    }

private:
    static constexpr DWORD kMaxWaitMs = 120000;

    // root\wmi, written plain or behind the local machine's name.
    static bool IsSimulatedNamespace(const wchar_t* name) {
        if (_wcsnicmp(name, L"\\\\.\\", 4) == 0) name += 4;
        return _wcsicmp(name, kSimNamespace) == 0;
    }
};

}  // namespace

namespace {

// The DPI awareness of the hosting process as Windows reports it (unaware, system, permonitor or
// permonitorv2), and whether this Windows knows per-monitor v2 at all.
void LogDpiAwareness(SimLogLine& line) {
    using GetContext = DPI_AWARENESS_CONTEXT(WINAPI*)();
    using IsValid = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    using Equal = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    auto lookUp = [user32](const char* name) { return reinterpret_cast<void*>(::GetProcAddress(user32, name)); };
    const auto getContext = reinterpret_cast<GetContext>(lookUp("GetThreadDpiAwarenessContext"));
    const auto isValid = reinterpret_cast<IsValid>(lookUp("IsValidDpiAwarenessContext"));
    const auto equal = reinterpret_cast<Equal>(lookUp("AreDpiAwarenessContextsEqual"));
    const bool knowsV2 = isValid != nullptr && isValid(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const wchar_t* awareness = L"unaware";
    if (getContext != nullptr && equal != nullptr) {
        const DPI_AWARENESS_CONTEXT context = getContext();
        if (knowsV2 && equal(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) awareness = L"permonitorv2";
        else if (equal(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE)) awareness = L"permonitor";
        else if (equal(context, DPI_AWARENESS_CONTEXT_SYSTEM_AWARE)) awareness = L"system";
    } else if (::IsProcessDPIAware()) {
        awareness = L"system";
    }
    line.Text(L"dpi", awareness).Text(L"pmv2", knowsV2 ? L"yes" : L"no");
}

}  // namespace

IWbemLocator* SimCreateLocator() {
    auto* locator = new SimLocator(SimSession::Open());
    const SimScenario& scenario = locator->session().scenario();
    SimLogLine line(locator->session(), L"Locator");
    line.Int(L"obj", locator->id())
        .Text(L"scenario", scenario.scenarioPath.empty() ? nullptr : scenario.scenarioPath.c_str())
        .Text(L"state", scenario.statePath.empty() ? L"<memory>" : scenario.statePath.c_str());
    LogDpiAwareness(line);
    line.Write();
    // A DLL named without a path, loaded as the hosting program's own code would load it: a copy planted
    // beside the program must not be the one found.
    if (!scenario.probeDll.empty()) {
        wchar_t path[MAX_PATH * 2];
        const wchar_t* loaded = nullptr;
        if (const HMODULE probe = ::LoadLibraryW(scenario.probeDll.c_str())) {
            if (::GetModuleFileNameW(probe, path, MAX_PATH * 2) > 0) loaded = path;
            ::FreeLibrary(probe);
        }
        SimLogLine(locator->session(), L"Probe").Text(L"dll", scenario.probeDll.c_str()).Text(L"loaded", loaded).Write();
    }
    return locator;
}
