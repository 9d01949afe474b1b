// The simulated query result: hands out a fresh instance object on each Next, like a forward-only
// WMI enumerator, and refuses Reset when it was asked for forward-only (unless the scenario rewinds).
#include "sim/SimObjects.h"

namespace {

// The enumerator of one ExecQuery.
class SimEnumerator final : public SimObject<IEnumWbemClassObject> {
public:
    SimEnumerator(std::shared_ptr<SimSession> session, int instances, bool forwardOnly)
        : SimObject(std::move(session), L"Enumerator"), m_instances(instances), m_forwardOnly(forwardOnly) {}

    // Rewinds to the first instance, unless the enumerator is forward-only.
    HRESULT STDMETHODCALLTYPE Reset() override {
        SimLogLine line = Call(L"Reset");
        HRESULT hr = S_OK;
        if (m_forwardOnly && !m_session->scenario().resetRewinds)
            hr = WBEM_E_INVALID_OPERATION;
        else
            m_next = 0;
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Write();
        return hr;
    }

    // Hands out up to uCount instances; WBEM_S_FALSE when fewer were left.
    HRESULT STDMETHODCALLTYPE Next(LONG lTimeout, ULONG uCount, IWbemClassObject** apObjects,
                                   ULONG* puReturned) override {
        SimLogLine line = Call(L"Next");
        line.Int(L"timeout", lTimeout).Int(L"count", uCount);
        HRESULT hr = WBEM_S_NO_ERROR;
        std::wstring ids;
        if (apObjects == nullptr || puReturned == nullptr) {
            hr = WBEM_E_INVALID_PARAMETER;
        } else {
            ULONG returned = 0;
            for (; returned < uCount && m_next < m_instances; ++returned, ++m_next) {
                SimClassObject* instance = SimClassObject::MakeInstance(m_session, m_next);
                apObjects[returned] = instance;
                ids += (ids.empty() ? L"" : L",") + std::to_wstring(instance->id());
            }
            *puReturned = returned;
            if (returned < uCount) hr = WBEM_S_FALSE;
            line.Hex(L"hr", static_cast<unsigned long>(hr)).Int(L"returned", returned);
        }
        if (FAILED(hr)) line.Hex(L"hr", static_cast<unsigned long>(hr));
        line.Text(L"out", ids.empty() ? nullptr : ids.c_str()).Write();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return Unsupported(L"NextAsync"); }

    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject** ppEnum) override {
        if (ppEnum != nullptr) *ppEnum = nullptr;
        return Unsupported(L"Clone");
    }

    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return Unsupported(L"Skip"); }

private:
    int m_instances;
    bool m_forwardOnly;
    int m_next = 0;
};

}  // namespace

IEnumWbemClassObject* SimCreateEnumerator(std::shared_ptr<SimSession> session, int instances, bool forwardOnly,
                                          long& id) {
    auto* enumerator = new SimEnumerator(std::move(session), instances, forwardOnly);
    id = enumerator->id();
    return enumerator;
}
