// The simulated namespace root\wmi: the instance query, the class definition and the firmware's
// methods device_status and device_ctrl.
#include "sim/SimObjects.h"

#include <cwchar>

namespace {

constexpr wchar_t kQueryPrefix[] = L"select * from ";
constexpr size_t kQueryPrefixLength = sizeof(kQueryPrefix) / sizeof(kQueryPrefix[0]) - 1;

// The class that a "Select * From <class>" query names; empty when the query is of another form.
std::wstring QueriedClass(const wchar_t* query) {
    const std::wstring text = SimTrim(query);
    if (text.size() <= kQueryPrefixLength || _wcsnicmp(text.c_str(), kQueryPrefix, kQueryPrefixLength) != 0)
        return std::wstring();
    const std::wstring name = SimTrim(text.substr(kQueryPrefixLength));
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
class SimServices final : public SimServicesBase<SimProxy<IWbemServices>> {
public:
    explicit SimServices(std::shared_ptr<SimSession> session) : SimServicesBase(std::move(session), L"Services") {}

    // "Select * From TolvekManagement" in WQL; another class has no instances, as under Wine's own WMI.
    // Asked to return immediately, it hands back the enumerator at once and the results come when the
    // firmware answers; otherwise it waits for the answer first.
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                        IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) override {
        SimLogLine line = Call(L"ExecQuery");
        line.Text(L"apt", SimApartmentName()).Text(L"lang", strQueryLanguage).Text(L"query", strQuery)
            .Hex(L"flags", static_cast<unsigned long>(lFlags));
        SimAnswer answer = m_session->NextAnswer(L"ExecQuery");
        if ((lFlags & WBEM_FLAG_RETURN_IMMEDIATELY) == 0) {
            SimWaitForAnswer(answer);
            answer.delayMs = 0;
        }
        long enumeratorId = 0;
        HRESULT hr = CheckApartment();
        if (SUCCEEDED(hr) && answer.hasCode) hr = answer.hr;
        if (ppEnum == nullptr) {
            hr = WBEM_E_INVALID_PARAMETER;
        } else if (*ppEnum = nullptr, FAILED(hr)) {
            // refused: no enumerator
        } else if (strQueryLanguage == nullptr || _wcsicmp(strQueryLanguage, L"WQL") != 0) {
            hr = WBEM_E_INVALID_QUERY_TYPE;
        } else if (strQuery == nullptr || QueriedClass(strQuery).empty()) {
            hr = WBEM_E_INVALID_QUERY;
        } else {
            const bool ours = _wcsicmp(QueriedClass(strQuery).c_str(), kSimClassName) == 0;
            *ppEnum = SimCreateEnumerator(m_session, ours ? m_session->scenario().instances : 0,
                                          (lFlags & WBEM_FLAG_FORWARD_ONLY) != 0, answer, enumeratorId);
        }
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Id(L"out", enumeratorId).Write();
        return hr;
    }

    // The class definition of TolvekManagement; nothing else is known. Semi-synchronously, the definition
    // comes through a call-result object when the firmware answers.
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                        IWbemClassObject** ppObject, IWbemCallResult** ppCallResult) override {
        SimLogLine line = Call(L"GetObject");
        line.Text(L"apt", SimApartmentName()).Text(L"path", strObjectPath).Hex(L"flags", static_cast<unsigned long>(lFlags));
        if (ppObject != nullptr) *ppObject = nullptr;
        if (ppCallResult != nullptr) *ppCallResult = nullptr;
        const SimAnswer answer = m_session->NextAnswer(L"GetObject");
        HRESULT hr = CheckApartment();
        if (FAILED(hr)) return Refuse(line, hr);
        if (answer.hasCode) hr = answer.hr;
        if (SUCCEEDED(hr) && (strObjectPath == nullptr || _wcsicmp(strObjectPath, kSimClassName) != 0))
            hr = WBEM_E_NOT_FOUND;

        return Reply(line, lFlags, ppObject, ppCallResult, answer, {hr, kDefinition, 0}, L"");
    }

    // The firmware's two methods on one of the instances. Semi-synchronously, the out-parameters come
    // through a call-result object when the firmware answers, and only then does it act.
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                                         IWbemContext* pCtx, IWbemClassObject* pInParams,
                                         IWbemClassObject** ppOutParams, IWbemCallResult** ppCallResult) override {
        SimLogLine line = Call(L"ExecMethod");
        SimClassObject* own = SimClassObject::From(pInParams);
        line.Text(L"apt", SimApartmentName())
            .Text(L"path", strObjectPath)
            .Text(L"method", strMethodName)
            .Hex(L"flags", static_cast<unsigned long>(lFlags))
            .Text(L"in", own != nullptr ? std::to_wstring(own->id()).c_str() : pInParams != nullptr ? L"<foreign>"
                                                                                                   : nullptr);
        if (ppOutParams != nullptr) *ppOutParams = nullptr;
        if (ppCallResult != nullptr) *ppCallResult = nullptr;
        if (FAILED(CheckApartment())) return Refuse(line, RPC_E_WRONG_THREAD);

        const SimAnswer answer = m_session->NextAnswer(strMethodName);
        Outcome outcome = Decide(strObjectPath, strMethodName, pInParams);
        // A scripted failure replaces whatever the firmware would have done; a scripted success code only
        // the code of an attempt that succeeds.
        if (answer.hasCode && FAILED(answer.hr)) outcome = {answer.hr, kNone, 0};
        if (answer.hasCode && SUCCEEDED(answer.hr) && SUCCEEDED(outcome.hr)) outcome.hr = answer.hr;
        return Reply(line, lFlags, ppOutParams, ppCallResult, answer, outcome, strMethodName != nullptr ? strMethodName : L"?");
    }

private:
    // What one call will do, decided when it is made: its code and, when it succeeds, its effect.
    enum Effect { kNone, kReport, kSet, kDefinition };  // the status, the control value set, the class definition
    struct Outcome {
        HRESULT hr;
        Effect effect;
        LONG control;  // the control value to set
    };

    // An attempt that the firmware refuses: it changes nothing.
    static Outcome Refused(unsigned long code) { return {static_cast<HRESULT>(code), kNone, 0}; }

    // A call refused before it reaches the firmware.
    static HRESULT Refuse(SimLogLine& line, HRESULT hr) {
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Write();
        return hr;
    }

    // Checks an attempt as the firmware would; a refusal will change nothing.
    Outcome Decide(const wchar_t* path, const wchar_t* method, IWbemClassObject* inParams) const {
        const bool status = method != nullptr && _wcsicmp(method, kSimMethodStatus) == 0;
        const bool control = method != nullptr && _wcsicmp(method, kSimMethodControl) == 0;
        if (!status && !control) return Refused(WBEM_E_INVALID_METHOD);
        if (path == nullptr) return Refused(WBEM_E_INVALID_PARAMETER);
        if (InstanceIndex(path, m_session->scenario().instances) < 0) return Refused(WBEM_E_NOT_FOUND);
        if (inParams == nullptr) return Refused(WBEM_E_INVALID_METHOD_PARAMETERS);

        LONG device = 0;
        if (!IntegerParam(inParams, kSimParamDevice, device) || device != kSimDeviceId)
            return Refused(WBEM_E_INVALID_PARAMETER);
        if (status) return {WBEM_S_NO_ERROR, kReport, 0};
        LONG controlValue = 0;
        if (!IntegerParam(inParams, kSimParamControl, controlValue) ||
            (controlValue != 0 && controlValue != 1 && controlValue != 3))
            return Refused(WBEM_E_INVALID_PARAMETER);
        return {WBEM_S_NO_ERROR, kSet, controlValue};
    }

    // Answers a call: with WBEM_FLAG_RETURN_IMMEDIATELY through a call-result object handed back at once, the
    // answer arriving through it when the script says (on a worker when late); without, once it has come. The
    // firmware acts when its answer comes (method: the method's name, empty for the class definition).
    HRESULT Reply(SimLogLine& line, LONG flags, IWbemClassObject** ppObject, IWbemCallResult** ppCallResult,
                  const SimAnswer& answer, const Outcome& outcome, const std::wstring& method) {
        const bool later = (flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0;
        if (later && ppCallResult == nullptr) return Refuse(line, WBEM_E_INVALID_PARAMETER);
        auto pending = std::make_shared<SimPendingAnswer>();
        long resultId = 0;
        if (later) *ppCallResult = SimCreateCallResult(m_session, pending, resultId);
        if (later) line.Hex(L"hr", static_cast<unsigned long>(WBEM_S_NO_ERROR)).Id(L"result", resultId).Write();
        std::shared_ptr<SimSession> session = m_session;
        SimAnswerLater(answer, [session, pending, resultId, outcome, method]() {
            SimLogLine answerLine(*session, L"Answer");
            answerLine.Id(L"this", resultId);
            if (!method.empty()) answerLine.Text(L"method", method.c_str());
            SimClassObject* out = Apply(session, outcome, method.c_str(), !pending->Abandoned());
            answerLine.Hex(L"hr", static_cast<unsigned long>(outcome.hr)).Id(L"out", out != nullptr ? out->id() : 0);
            if (SUCCEEDED(outcome.hr) && !method.empty()) answerLine.Hex(L"state", session->ReadState());
            answerLine.Write();
            pending->Arrive(outcome.hr, out);
        });
        if (later) return WBEM_S_NO_ERROR;
        HRESULT hr = S_OK;
        IWbemClassObject* object = nullptr;
        pending->Wait(WBEM_INFINITE, hr, &object);  // an answer that never comes: a call that never returns
        SimClassObject* own = SimClassObject::From(object);
        if (ppObject != nullptr) *ppObject = object;
        else if (object != nullptr) object->Release();
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Id(L"out", own != nullptr ? own->id() : 0).Write();
        return hr;
    }

    // The firmware acts on an attempt when it answers; the out-parameters, when anybody takes them.
    static SimClassObject* Apply(const std::shared_ptr<SimSession>& session, const Outcome& outcome,
                                 const wchar_t* method, bool wanted) {
        if (FAILED(outcome.hr)) return nullptr;
        if (outcome.effect == kSet) session->WriteState(kSimStatusPresent | static_cast<DWORD>(outcome.control));
        if (!wanted) return nullptr;
        if (outcome.effect == kDefinition) return SimClassObject::MakeClass(session);
        const SimScenario& scenario = session->scenario();
        const ULONGLONG word = scenario.fixedStatus ? scenario.statusWord : session->ReadState();
        return SimClassObject::MakeOutParams(session, method, word);
    }
};

}  // namespace

IWbemServices* SimCreateServices(std::shared_ptr<SimSession> session, long& id) {
    auto* services = new SimServices(std::move(session));
    id = services->id();
    return services;
}
