// The simulated WMI locator: reads the scenario when it is made and connects to root\wmi.
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
        IWbemServices* services = nullptr;
        long servicesId = 0;
        const SimAnswer answer = m_session->NextAnswer(L"ConnectServer");
        SimWaitForAnswer(answer);
        HRESULT hr = answer.hasCode ? answer.hr : m_session->scenario().connectHr;
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
    // root\wmi, written plain or behind the local machine's name.
    static bool IsSimulatedNamespace(const wchar_t* name) {
        if (_wcsnicmp(name, L"\\\\.\\", 4) == 0) name += 4;
        return _wcsicmp(name, kSimNamespace) == 0;
    }
};

}  // namespace

IWbemLocator* SimCreateLocator() {
    auto* locator = new SimLocator(SimSession::Open());
    const SimScenario& scenario = locator->session().scenario();
    SimLogLine(locator->session(), L"Locator")
        .Int(L"obj", locator->id())
        .Text(L"scenario", scenario.scenarioPath.empty() ? nullptr : scenario.scenarioPath.c_str())
        .Text(L"state", scenario.statePath.empty() ? L"<memory>" : scenario.statePath.c_str())
        .Write();
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
