// The simulated WMI objects: class factory, locator, namespace services, enumerator and class objects.
#pragma once

#include "sim/SimModule.h"
#include "sim/SimSession.h"

#include <windows.h>
#include <wbemidl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The simulated management class and the names the firmware answers to.
constexpr wchar_t kSimClassName[] = L"TolvekManagement";
constexpr wchar_t kSimNamespace[] = L"root\\wmi";
constexpr wchar_t kSimMethodStatus[] = L"device_status";
constexpr wchar_t kSimMethodControl[] = L"device_ctrl";
constexpr wchar_t kSimParamDevice[] = L"device_id";
constexpr wchar_t kSimParamControl[] = L"ctrl_param";
constexpr LONG kSimDeviceId = 0x60021;
constexpr DWORD kSimStatusPresent = 0x10000;

// A number for each simulated object, unique while the DLL stays loaded; the log names objects by it.
long SimNextObjectId();

// A simulated object of one session: its id, its kind for the log, and a log line when it goes.
template <class Itf>
class SimObject : public SimUnknown<Itf> {
public:
    long id() const { return m_id; }

protected:
    SimObject(std::shared_ptr<SimSession> session, const wchar_t* kind)
        : m_session(std::move(session)), m_kind(kind), m_id(SimNextObjectId()) {
        SimNoteKind(m_kind, 1);
    }
    ~SimObject() override {
        SimNoteKind(m_kind, -1);
        SimLogLine(*m_session, L"Free").Int(L"obj", m_id).Text(L"kind", m_kind).Write();
    }

    // Starts a log line for a call on this object, timed now.
    SimLogLine Call(const wchar_t* method) const {
        SimLogLine line(*m_session, method);
        line.Int(L"this", m_id);
        return line;
    }

    // Logs a call that the simulator does not offer and answers it.
    HRESULT Unsupported(const wchar_t* method, HRESULT hr = WBEM_E_NOT_SUPPORTED) const {
        Call(method).Hex(L"hr", static_cast<unsigned long>(hr)).Write();
        return hr;
    }

    std::shared_ptr<SimSession> m_session;

private:
    const wchar_t* m_kind;
    long m_id;
};

// The class factory that DllGetClassObject hands out: it makes locators.
class SimClassFactory final : public SimUnknown<IClassFactory> {
public:
    SimClassFactory() = default;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
};

// The number of LockServer locks held on the module.
LONG SimServerLocks();

// Makes a locator with a new session, read from the scenario now.
IWbemLocator* SimCreateLocator();

// Makes the namespace services object of a session; id receives its number for the log.
IWbemServices* SimCreateServices(std::shared_ptr<SimSession> session, long& id);

// Makes an enumerator over instances of the class, whose results come when the query's answer does;
// id receives its number for the log.
IEnumWbemClassObject* SimCreateEnumerator(std::shared_ptr<SimSession> session, int instances, bool forwardOnly,
                                          const SimAnswer& results, long& id);

// The answer of one semi-synchronous call (WBEM_FLAG_RETURN_IMMEDIATELY): it is there at once, comes
// later from a worker thread, or never comes. Shared by the call-result object and that worker.
class SimPendingAnswer {
public:
    SimPendingAnswer();
    ~SimPendingAnswer();
    SimPendingAnswer(const SimPendingAnswer&) = delete;
    SimPendingAnswer& operator=(const SimPendingAnswer&) = delete;

    // The answer arrives: its code and its object (the reference is taken over; null for none).
    void Arrive(HRESULT hr, IWbemClassObject* result);
    // Waits up to timeoutMs (WBEM_INFINITE: for ever); true with the code and a new reference to the object
    // once the answer is there, false when it is not.
    bool Wait(LONG timeoutMs, HRESULT& hr, IWbemClassObject** result);
    // The caller let go of the call: an answer that arrives later is dropped.
    void Abandon();
    bool Abandoned() const;

private:
    mutable CRITICAL_SECTION m_lock;
    HANDLE m_arrived = nullptr;  // made only when somebody waits before the answer is there
    bool m_there = false;
    HRESULT m_hr = S_OK;
    IWbemClassObject* m_result = nullptr;
    bool m_abandoned = false;
};

// Runs the work after delayMs on a thread of its own, the DLL kept loaded until it is done.
void SimRunLater(DWORD delayMs, std::function<void()> work);

// Makes the call-result object of a semi-synchronous call; id receives its number for the log.
IWbemCallResult* SimCreateCallResult(std::shared_ptr<SimSession> session, std::shared_ptr<SimPendingAnswer> answer,
                                     long& id);

// Answers a call: at once (delay 0), after the delay on a worker thread, or never.
void SimAnswerLater(const SimAnswer& answer, std::function<void()> work);

// Waits for a synchronous call's answer: the delay, or for ever when it never comes.
void SimWaitForAnswer(const SimAnswer& answer);

// What a class object stands for; decides which calls it answers.
enum class SimObjectKind { Class, Instance, InSignature, OutSignature, InParams, OutParams };

// A class definition, instance or parameter object, with its properties and (for the class) its methods.
class SimClassObject final : public SimObject<IWbemClassObject> {
public:
    // The class definition of TolvekManagement.
    static SimClassObject* MakeClass(std::shared_ptr<SimSession> session);
    // Instance number index of the class.
    static SimClassObject* MakeInstance(std::shared_ptr<SimSession> session, int index);
    // The out-parameters that a method hands back (empty for device_ctrl).
    static SimClassObject* MakeOutParams(std::shared_ptr<SimSession> session, const wchar_t* method,
                                         ULONGLONG statusWord);
    // The simulator's own object behind an interface pointer, or null for anybody else's.
    static SimClassObject* From(IWbemClassObject* object);
    // The object path of instance number index.
    static std::wstring InstancePath(int index);

    // A property's value without a log line, or null when the object has no such property.
    const VARIANT* Property(const wchar_t* name) const;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet** ppQualSet) override;
    HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType,
                                  LONG* plFlavor) override;
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) override;
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR wszName) override;
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR wszQualifierName, LONG lFlags, VARIANT* pQualifierVal,
                                       SAFEARRAY** pNames) override;
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG lEnumFlags) override;
    HRESULT STDMETHODCALLTYPE Next(LONG lFlags, BSTR* strName, VARIANT* pVal, CIMTYPE* pType,
                                   LONG* plFlavor) override;
    HRESULT STDMETHODCALLTYPE EndEnumeration() override;
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR wszProperty, IWbemQualifierSet** ppQualSet) override;
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** ppCopy) override;
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG lFlags, BSTR* pstrObjectText) override;
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG lFlags, IWbemClassObject** ppNewClass) override;
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) override;
    HRESULT STDMETHODCALLTYPE CompareTo(LONG lFlags, IWbemClassObject* pCompareTo) override;
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR wszName, BSTR* pstrClassName) override;
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR strAncestor) override;
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject** ppInSignature,
                                        IWbemClassObject** ppOutSignature) override;
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject* pInSignature,
                                        IWbemClassObject* pOutSignature) override;
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR wszName) override;
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG lEnumFlags) override;
    HRESULT STDMETHODCALLTYPE NextMethod(LONG lFlags, BSTR* pstrName, IWbemClassObject** ppInSignature,
                                         IWbemClassObject** ppOutSignature) override;
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override;
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR wszMethod, IWbemQualifierSet** ppQualSet) override;
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR wszMethodName, BSTR* pstrClassName) override;

private:
    struct Prop {
        std::wstring name;
        CIMTYPE type;
        VARIANT value;
    };

    SimClassObject(std::shared_ptr<SimSession> session, SimObjectKind kind, const wchar_t* className);
    ~SimClassObject() override;

    // Adds a property; value null leaves it VT_NULL.
    void AddProperty(const wchar_t* name, CIMTYPE type, const VARIANT* value);
    // Adds a text property.
    void AddText(const wchar_t* name, const wchar_t* text);
    Prop* Find(const wchar_t* name);
    // The in- or out-signature of one of the class's methods.
    SimClassObject* MakeSignature(const wchar_t* method, bool in) const;

    SimObjectKind m_kind;
    std::wstring m_className;
    std::vector<Prop> m_props;
};
