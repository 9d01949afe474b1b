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
    // Asked to return immediately, it hands back the enumerator at once and the results come when the
    // firmware answers; otherwise it waits for the answer first.
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                        IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) override {
        SimLogLine line = Call(L"ExecQuery");
        line.Text(L"lang", strQueryLanguage).Text(L"query", strQuery).Hex(L"flags", static_cast<unsigned long>(lFlags));
        const SimScenario& scenario = m_session->scenario();
        SimAnswer answer = m_session->NextAnswer(L"ExecQuery");
        if ((lFlags & WBEM_FLAG_RETURN_IMMEDIATELY) == 0) {
            SimWaitForAnswer(answer);
            answer.delayMs = 0;
        }
        long enumeratorId = 0;
        HRESULT hr = answer.hasCode ? answer.hr : scenario.execQueryHr;
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
        line.Text(L"path", strObjectPath).Hex(L"flags", static_cast<unsigned long>(lFlags));
        if (ppObject != nullptr) *ppObject = nullptr;
        if (ppCallResult != nullptr) *ppCallResult = nullptr;
        const SimAnswer answer = m_session->NextAnswer(L"GetObject");
        HRESULT hr = answer.hasCode ? answer.hr : m_session->scenario().getObjectHr;
        if (SUCCEEDED(hr) && (strObjectPath == nullptr || _wcsicmp(strObjectPath, kSimClassName) != 0))
            hr = WBEM_E_NOT_FOUND;

        if ((lFlags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0) {
            return AnswerLater(line, ppCallResult, answer, [hr](const std::shared_ptr<SimSession>& session,
                                                                SimPendingAnswer& pending, long resultId) {
                SimClassObject* definition =
                    SUCCEEDED(hr) && !pending.Abandoned() ? SimClassObject::MakeClass(session) : nullptr;
                SimLogLine(*session, L"Answer").Int(L"this", resultId).Hex(L"hr", static_cast<unsigned long>(hr))
                    .Id(L"out", definition != nullptr ? definition->id() : 0).Write();
                pending.Arrive(hr, definition);
            });
        }

        SimWaitForAnswer(answer);
        SimClassObject* definition = nullptr;
        if (ppObject == nullptr)
            hr = WBEM_E_INVALID_PARAMETER;
        else if (SUCCEEDED(hr))
            *ppObject = definition = SimClassObject::MakeClass(m_session);
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Id(L"out", definition != nullptr ? definition->id() : 0);
        line.Write();
        return hr;
    }

    // The firmware's two methods on one of the instances. Semi-synchronously, the out-parameters come
    // through a call-result object when the firmware answers, and only then does it act.
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

        const SimAnswer answer = m_session->NextAnswer(strMethodName);
        Outcome outcome = Decide(strObjectPath, strMethodName, pInParams);
        // A scripted failure replaces whatever the firmware would have done; a scripted success code only
        // the code of an attempt that succeeds.
        if (answer.hasCode && FAILED(answer.hr)) outcome = {answer.hr, 0, 0};
        if (answer.hasCode && SUCCEEDED(answer.hr) && SUCCEEDED(outcome.hr)) outcome.hr = answer.hr;
        const std::wstring method = strMethodName != nullptr ? strMethodName : L"";

        if ((lFlags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0) {
            return AnswerLater(line, ppCallResult, answer, [outcome, method](const std::shared_ptr<SimSession>& session,
                                                                             SimPendingAnswer& pending, long resultId) {
                SimLogLine answerLine(*session, L"Answer");
                answerLine.Int(L"this", resultId).Text(L"method", method.c_str());
                SimClassObject* out = Apply(session, outcome, method.c_str(), !pending.Abandoned());
                answerLine.Hex(L"hr", static_cast<unsigned long>(outcome.hr)).Id(L"out", out != nullptr ? out->id() : 0);
                if (SUCCEEDED(outcome.hr)) answerLine.Hex(L"state", session->ReadState());
                answerLine.Write();
                pending.Arrive(outcome.hr, out);
            });
        }

        SimWaitForAnswer(answer);
        SimClassObject* out = Apply(m_session, outcome, method.c_str(), ppOutParams != nullptr);
        if (ppOutParams != nullptr) *ppOutParams = out;
        line.Hex(L"hr", static_cast<unsigned long>(outcome.hr)).Id(L"out", out != nullptr ? out->id() : 0);
        if (SUCCEEDED(outcome.hr)) line.Hex(L"state", m_session->ReadState());
        line.Write();
        return outcome.hr;
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
    // What one attempt will do, decided when it is made: its code and, when it succeeds, its effect.
    struct Outcome {
        HRESULT hr;
        int effect;    // 0 none, 1 report the status, 2 set the control value
        LONG control;  // the control value to set
    };

    // An attempt that the firmware refuses: it changes nothing.
    static Outcome Refused(unsigned long code) { return {static_cast<HRESULT>(code), 0, 0}; }

    // Checks an attempt as the firmware would; a refusal will change nothing.
    Outcome Decide(const wchar_t* path, const wchar_t* method, IWbemClassObject* inParams) {
        const SimScenario& scenario = m_session->scenario();
        if (m_session->ExecMethodAttemptFails(method)) return {scenario.execMethodFailHr, 0, 0};
        const bool status = method != nullptr && _wcsicmp(method, kSimMethodStatus) == 0;
        const bool control = method != nullptr && _wcsicmp(method, kSimMethodControl) == 0;
        if (!status && !control) return Refused(WBEM_E_INVALID_METHOD);
        if (path == nullptr) return Refused(WBEM_E_INVALID_PARAMETER);
        if (InstanceIndex(path, scenario.instances) < 0) return Refused(WBEM_E_NOT_FOUND);
        if (inParams == nullptr) return Refused(WBEM_E_INVALID_METHOD_PARAMETERS);

        LONG device = 0;
        if (!IntegerParam(inParams, kSimParamDevice, device) || device != kSimDeviceId)
            return Refused(WBEM_E_INVALID_PARAMETER);
        if (status) return {WBEM_S_NO_ERROR, 1, 0};
        LONG controlValue = 0;
        if (!IntegerParam(inParams, kSimParamControl, controlValue) ||
            (controlValue != 0 && controlValue != 1 && controlValue != 3))
            return Refused(WBEM_E_INVALID_PARAMETER);
        return {WBEM_S_NO_ERROR, 2, controlValue};
    }

    // The firmware acts on an attempt when it answers; the out-parameters, when anybody takes them.
    // A call made with WBEM_FLAG_RETURN_IMMEDIATELY: hands back a call-result object at once and lets the
    // firmware's answer arrive through it when the scripted answer says (respond runs then, on a worker).
    using Respond = std::function<void(const std::shared_ptr<SimSession>&, SimPendingAnswer&, long resultId)>;
    HRESULT AnswerLater(SimLogLine& line, IWbemCallResult** ppCallResult, const SimAnswer& answer, Respond respond) {
        if (ppCallResult == nullptr) {
            line.Hex(L"hr", static_cast<unsigned long>(WBEM_E_INVALID_PARAMETER)).Write();
            return WBEM_E_INVALID_PARAMETER;
        }
        auto pending = std::make_shared<SimPendingAnswer>();
        long resultId = 0;
        *ppCallResult = SimCreateCallResult(m_session, pending, resultId);
        line.Hex(L"hr", static_cast<unsigned long>(WBEM_S_NO_ERROR)).Id(L"result", resultId).Write();
        std::shared_ptr<SimSession> session = m_session;
        SimAnswerLater(answer, [session, pending, resultId, respond]() { respond(session, *pending, resultId); });
        return WBEM_S_NO_ERROR;
    }

    static SimClassObject* Apply(const std::shared_ptr<SimSession>& session, const Outcome& outcome,
                                 const wchar_t* method, bool wanted) {
        if (FAILED(outcome.hr)) return nullptr;
        if (outcome.effect == 2) session->WriteState(kSimStatusPresent | static_cast<DWORD>(outcome.control));
        if (!wanted) return nullptr;
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
