// The simulated namespace root\wmi: the instance query, the class definition and the firmware's
// methods device_status and device_ctrl.
#include "sim/SimObjects.h"

#include <cwchar>
#include <cwctype>

namespace {

constexpr wchar_t kQueryPrefix[] = L"select * from ";
constexpr size_t kQueryPrefixLength = sizeof(kQueryPrefix) / sizeof(kQueryPrefix[0]) - 1;

// Text without its leading and trailing blanks.
std::wstring Trimmed(const wchar_t* text) {
    std::wstring value(text);
    const size_t first = value.find_first_not_of(L" \t");
    const size_t last = value.find_last_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : value.substr(first, last - first + 1);
}

// The class that a "Select * From <class>" query names; empty when the query is of another form.
std::wstring QueriedClass(const wchar_t* query) {
    const std::wstring text = Trimmed(query);
    if (text.size() <= kQueryPrefixLength || _wcsnicmp(text.c_str(), kQueryPrefix, kQueryPrefixLength) != 0)
        return std::wstring();
    const std::wstring name = Trimmed(text.c_str() + kQueryPrefixLength);
    return name.find_first_of(L" \t") == std::wstring::npos ? name : std::wstring();
}

// The number of the instance an object path names, or -1 (full path or relative path alike).
int InstanceIndex(const wchar_t* path, int instances) {
    for (int i = 0; i < instances; ++i) {
        const std::wstring full = SimClassObject::InstancePath(i);
        const size_t colon = full.find(L':');
        if (_wcsicmp(path, full.c_str()) == 0 || _wcsicmp(path, full.c_str() + colon + 1) == 0) return i;
    }
    return -1;
}

// An in-parameter as the firmware reads it: a VT_I4 value, or false when missing or of another type.
bool IntegerParam(IWbemClassObject* inParams, const wchar_t* name, LONG& value) {
    if (SimClassObject* own = SimClassObject::From(inParams)) {
        const VARIANT* found = own->Property(name);
        if (found == nullptr || V_VT(found) != VT_I4) return false;
        value = V_I4(found);
        return true;
    }
    VARIANT found;
    ::VariantInit(&found);
    const bool ok = SUCCEEDED(inParams->Get(name, 0, &found, nullptr, nullptr)) && V_VT(&found) == VT_I4;
    if (ok) value = V_I4(&found);
    ::VariantClear(&found);
    return ok;
}

// The namespace services of one session.
class SimServices final : public SimObject<IWbemServices> {
public:
    explicit SimServices(std::shared_ptr<SimSession> session) : SimObject(std::move(session), L"Services") {}

    // "Select * From TolvekManagement" in WQL; another class has no instances, as under Wine's own WMI.
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                        IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) override {
        SimLogLine line = Call(L"ExecQuery");
        line.Text(L"lang", strQueryLanguage).Text(L"query", strQuery).Hex(L"flags", static_cast<unsigned long>(lFlags));
        const SimScenario& scenario = m_session->scenario();
        long enumeratorId = 0;
        HRESULT hr = scenario.execQueryHr;
        if (ppEnum == nullptr) {
            hr = WBEM_E_INVALID_PARAMETER;
        } else if (*ppEnum = nullptr, FAILED(hr)) {
            // the scenario's failure: no enumerator
        } else if (strQueryLanguage == nullptr || _wcsicmp(strQueryLanguage, L"WQL") != 0) {
            hr = WBEM_E_INVALID_QUERY_TYPE;
        } else if (strQuery == nullptr || QueriedClass(strQuery).empty()) {
            hr = WBEM_E_INVALID_QUERY;
        } else {
            const bool ours = _wcsicmp(QueriedClass(strQuery).c_str(), kSimClassName) == 0;
            *ppEnum = SimCreateEnumerator(m_session, ours ? scenario.instances : 0,
                                          (lFlags & WBEM_FLAG_FORWARD_ONLY) != 0, enumeratorId);
        }
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Id(L"out", enumeratorId).Write();
        return hr;
    }

    // The class definition of TolvekManagement; nothing else is known.
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                        IWbemClassObject** ppObject, IWbemCallResult** ppCallResult) override {
        SimLogLine line = Call(L"GetObject");
        line.Text(L"path", strObjectPath).Hex(L"flags", static_cast<unsigned long>(lFlags));
        if (ppCallResult != nullptr) *ppCallResult = nullptr;
        SimClassObject* definition = nullptr;
        HRESULT hr = m_session->scenario().getObjectHr;
        if (ppObject == nullptr) {
            hr = WBEM_E_INVALID_PARAMETER;
        } else if (*ppObject = nullptr, FAILED(hr)) {
            // the scenario's failure: no class definition
        } else if (strObjectPath == nullptr || _wcsicmp(strObjectPath, kSimClassName) != 0) {
            hr = WBEM_E_NOT_FOUND;
        } else {
            *ppObject = definition = SimClassObject::MakeClass(m_session);
        }
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Id(L"out", definition != nullptr ? definition->id() : 0);
        line.Write();
        return hr;
    }

    // The firmware's two methods on one of the instances.
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                                         IWbemContext* pCtx, IWbemClassObject* pInParams,
                                         IWbemClassObject** ppOutParams, IWbemCallResult** ppCallResult) override {
        SimLogLine line = Call(L"ExecMethod");
        SimClassObject* own = SimClassObject::From(pInParams);
        line.Text(L"path", strObjectPath)
            .Text(L"method", strMethodName)
            .Hex(L"flags", static_cast<unsigned long>(lFlags))
            .Text(L"in", own != nullptr ? std::to_wstring(own->id()).c_str() : pInParams != nullptr ? L"<foreign>"
                                                                                                   : nullptr);
        if (ppOutParams != nullptr) *ppOutParams = nullptr;
        if (ppCallResult != nullptr) *ppCallResult = nullptr;

        DWORD statusWord = 0;
        const HRESULT hr = Execute(strObjectPath, strMethodName, pInParams, statusWord);
        SimClassObject* out = nullptr;
        if (SUCCEEDED(hr) && ppOutParams != nullptr)
            *ppOutParams = out = SimClassObject::MakeOutParams(m_session, strMethodName, statusWord);
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Id(L"out", out != nullptr ? out->id() : 0);
        if (SUCCEEDED(hr)) line.Hex(L"state", m_session->ReadState());
        line.Write();
        return hr;
    }

    // What the firmware's callers never need: logged and refused.
    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices** ppWorkingNamespace,
                                            IWbemCallResult** ppResult) override {
        if (ppWorkingNamespace != nullptr) *ppWorkingNamespace = nullptr;
        if (ppResult != nullptr) *ppResult = nullptr;
        return Unsupported(L"OpenNamespace");
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return Unsupported(L"CancelAsyncCall"); }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink** ppResponseHandler) override {
        if (ppResponseHandler != nullptr) *ppResponseHandler = nullptr;
        return Unsupported(L"QueryObjectSink");
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return Unsupported(L"GetObjectAsync");
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult** ppCallResult) override {
        if (ppCallResult != nullptr) *ppCallResult = nullptr;
        return Unsupported(L"PutClass");
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
        return Unsupported(L"PutClassAsync");
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult** ppCallResult) override {
        if (ppCallResult != nullptr) *ppCallResult = nullptr;
        return Unsupported(L"DeleteClass");
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return Unsupported(L"DeleteClassAsync");
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject** ppEnum) override {
        if (ppEnum != nullptr) *ppEnum = nullptr;
        return Unsupported(L"CreateClassEnum");
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return Unsupported(L"CreateClassEnumAsync");
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*,
                                          IWbemCallResult** ppCallResult) override {
        if (ppCallResult != nullptr) *ppCallResult = nullptr;
        return Unsupported(L"PutInstance");
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
        return Unsupported(L"PutInstanceAsync");
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult** ppCallResult) override {
        if (ppCallResult != nullptr) *ppCallResult = nullptr;
        return Unsupported(L"DeleteInstance");
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return Unsupported(L"DeleteInstanceAsync");
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*,
                                                 IEnumWbemClassObject** ppEnum) override {
        if (ppEnum != nullptr) *ppEnum = nullptr;
        return Unsupported(L"CreateInstanceEnum");
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return Unsupported(L"CreateInstanceEnumAsync");
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return Unsupported(L"ExecQueryAsync");
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject** ppEnum) override {
        if (ppEnum != nullptr) *ppEnum = nullptr;
        return Unsupported(L"ExecNotificationQuery");
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                         IWbemObjectSink*) override {
        return Unsupported(L"ExecNotificationQueryAsync");
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                              IWbemObjectSink*) override {
        return Unsupported(L"ExecMethodAsync");
    }

private:
    // What the firmware does with one attempt; a refusal changes nothing.
    HRESULT Execute(const wchar_t* path, const wchar_t* method, IWbemClassObject* inParams, DWORD& statusWord) {
        const SimScenario& scenario = m_session->scenario();
        if (m_session->ExecMethodAttemptFails(method)) return scenario.execMethodFailHr;
        const bool status = method != nullptr && _wcsicmp(method, kSimMethodStatus) == 0;
        const bool control = method != nullptr && _wcsicmp(method, kSimMethodControl) == 0;
        if (!status && !control) return WBEM_E_INVALID_METHOD;
        if (path == nullptr) return WBEM_E_INVALID_PARAMETER;
        if (InstanceIndex(path, scenario.instances) < 0) return WBEM_E_NOT_FOUND;
        if (inParams == nullptr) return WBEM_E_INVALID_METHOD_PARAMETERS;

        LONG device = 0;
        if (!IntegerParam(inParams, kSimParamDevice, device) || device != kSimDeviceId)
            return WBEM_E_INVALID_PARAMETER;
        if (status) {
            statusWord = scenario.fixedStatus ? scenario.statusWord : m_session->ReadState();
            return WBEM_S_NO_ERROR;
        }
        LONG controlValue = 0;
        if (!IntegerParam(inParams, kSimParamControl, controlValue) ||
            (controlValue != 0 && controlValue != 1 && controlValue != 3))
            return WBEM_E_INVALID_PARAMETER;
        m_session->WriteState(kSimStatusPresent | static_cast<DWORD>(controlValue));
        return WBEM_S_NO_ERROR;
    }
};

}  // namespace

IWbemServices* SimCreateServices(std::shared_ptr<SimSession> session, long& id) {
    auto* services = new SimServices(std::move(session));
    id = services->id();
    return services;
}
