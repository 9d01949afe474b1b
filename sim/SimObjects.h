// The simulated WMI objects: class factory, locator, namespace services, enumerator, call results and
// class objects, and the bases they share.
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

public:
    // Logs a call that the simulator does not offer and refuses it.
    HRESULT Unsupported(const wchar_t* method) const {
        Call(method).Hex(L"hr", static_cast<unsigned long>(WBEM_E_NOT_SUPPORTED)).Write();
        return WBEM_E_NOT_SUPPORTED;
    }

protected:
    std::shared_ptr<SimSession> m_session;

private:
    const wchar_t* m_kind;
    long m_id;
};

// A simulated object that stands for a proxy into the WMI service, as the services, enumerators and call
// results of Windows' WMI are: it takes a security blanket (IClientSecurity, which CoSetProxyBlanket asks
// for), logging each one with the caller's apartment; and it answers only in the apartment that made it,
// unless it was marshaled (then it stands for the proxy unmarshaled in the other apartment).
template <class Itf>
class SimProxy : public SimObject<Itf>, public IClientSecurity {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv != nullptr && IsEqualIID(riid, IID_IClientSecurity)) {
            // The scenario may make the object no proxy at all, as an in-process object is.
            m_blanket = this->m_session->NextAnswer(L"SetBlanket");
            if (m_blanket.hasCode && m_blanket.hr == E_NOINTERFACE) {
                this->Call(L"SetBlanket").Text(L"apt", SimApartmentName()).Hex(L"hr", E_NOINTERFACE).Write();
                *ppv = nullptr;
                return E_NOINTERFACE;
            }
            *ppv = static_cast<IClientSecurity*>(this);
            AddRef();
            return S_OK;
        }
        if (ppv != nullptr && IsEqualIID(riid, IID_IMarshal)) {
            // Asked when COM marshals the object to another apartment: the aggregated free-threaded marshaler
            // does the work, so the object unmarshaled there is this one, allowed there from now on.
            if (m_ftm == nullptr &&
                FAILED(::CoCreateFreeThreadedMarshaler(static_cast<IUnknown*>(static_cast<Itf*>(this)), &m_ftm)))
                m_ftm = nullptr;
            m_marshaled = m_ftm != nullptr;
            this->Call(L"Marshal").Text(L"apt", SimApartmentName()).Write();
            if (m_ftm != nullptr) return m_ftm->QueryInterface(riid, ppv);
        }
        return SimObject<Itf>::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return SimObject<Itf>::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return SimObject<Itf>::Release(); }

    // The blanket: every field logged; the scenario may refuse it (nothing is set then).
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authn, DWORD authz, OLECHAR* principal, DWORD level,
                                         DWORD impersonation, void* identity, DWORD capabilities) override {
        SimLogLine line = this->Call(L"SetBlanket");  // a local call: at once, whatever a delay the script gives
        line.Text(L"apt", SimApartmentName()).Int(L"authn", authn).Int(L"authz", authz).Text(L"principal", principal)
            .Int(L"level", level).Int(L"imp", impersonation).Text(L"identity", identity != nullptr ? L"<given>" : nullptr)
            .Hex(L"caps", capabilities);
        const HRESULT hr = m_blanket.hasCode ? m_blanket.hr : S_OK;
        m_blanket = SimAnswer();
        line.Hex(L"hr", static_cast<unsigned long>(hr)).Write();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**, DWORD*) override {
        return this->Unsupported(L"QueryBlanket");
    }
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return this->Unsupported(L"CopyProxy"); }

protected:
    SimProxy(std::shared_ptr<SimSession> session, const wchar_t* kind)
        : SimObject<Itf>(std::move(session), kind), m_home(ApartmentOfCaller()) {}
    ~SimProxy() override {
        if (m_ftm != nullptr) m_ftm->Release();
    }

    // RPC_E_WRONG_THREAD for a caller in another apartment than the one that made the object, as a proxy
    // answers when it is used there without being marshaled; S_OK otherwise.
    HRESULT CheckApartment() const {
        return m_marshaled || ApartmentOfCaller() == m_home ? S_OK : RPC_E_WRONG_THREAD;
    }

private:
    // The caller's apartment: 0 for the multithreaded one, the thread for a single-threaded one.
    static DWORD ApartmentOfCaller() { return SimApartmentName()[0] == L's' ? ::GetCurrentThreadId() : 0; }

    SimAnswer m_blanket;  // how the next SetBlanket answers, decided when the interface was asked for
    DWORD m_home;
    bool m_marshaled = false;
    IUnknown* m_ftm = nullptr;  // the aggregated free-threaded marshaler's own IUnknown
};

// The methods of each interface that the client never calls, one line each: logged and refused with
// WBEM_E_NOT_SUPPORTED (their out-parameters are left as the caller passed them).
#define SIM_UNUSED(method, ...) \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return this->Unsupported(L## #method); }

template <class Base>
class SimServicesBase : public Base {
protected:
    using Base::Base;

public:
    SIM_UNUSED(OpenNamespace, const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**)
    SIM_UNUSED(CancelAsyncCall, IWbemObjectSink*)
    SIM_UNUSED(QueryObjectSink, LONG, IWbemObjectSink**)
    SIM_UNUSED(GetObjectAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    SIM_UNUSED(PutClass, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
    SIM_UNUSED(PutClassAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
    SIM_UNUSED(DeleteClass, const BSTR, LONG, IWbemContext*, IWbemCallResult**)
    SIM_UNUSED(DeleteClassAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    SIM_UNUSED(CreateClassEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
    SIM_UNUSED(CreateClassEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    SIM_UNUSED(PutInstance, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
    SIM_UNUSED(PutInstanceAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
    SIM_UNUSED(DeleteInstance, const BSTR, LONG, IWbemContext*, IWbemCallResult**)
    SIM_UNUSED(DeleteInstanceAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    SIM_UNUSED(CreateInstanceEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
    SIM_UNUSED(CreateInstanceEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    SIM_UNUSED(ExecQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    SIM_UNUSED(ExecNotificationQuery, const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
    SIM_UNUSED(ExecNotificationQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    SIM_UNUSED(ExecMethodAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemObjectSink*)
};

template <class Base>
class SimEnumeratorBase : public Base {
protected:
    using Base::Base;

public:
    SIM_UNUSED(NextAsync, ULONG, IWbemObjectSink*)
    SIM_UNUSED(Clone, IEnumWbemClassObject**)
    SIM_UNUSED(Skip, LONG, ULONG)
};

template <class Base>
class SimCallResultBase : public Base {
protected:
    using Base::Base;

public:
    SIM_UNUSED(GetCallStatus, LONG, LONG*)
    SIM_UNUSED(GetResultString, LONG, BSTR*)
    SIM_UNUSED(GetResultServices, LONG, IWbemServices**)
};

template <class Base>
class SimClassObjectBase : public Base {
protected:
    using Base::Base;

public:
    SIM_UNUSED(GetQualifierSet, IWbemQualifierSet**)
    SIM_UNUSED(Delete, LPCWSTR)
    SIM_UNUSED(GetNames, LPCWSTR, LONG, VARIANT*, SAFEARRAY**)
    SIM_UNUSED(BeginEnumeration, LONG)
    SIM_UNUSED(Next, LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*)
    SIM_UNUSED(EndEnumeration)
    SIM_UNUSED(GetPropertyQualifierSet, LPCWSTR, IWbemQualifierSet**)
    SIM_UNUSED(Clone, IWbemClassObject**)
    SIM_UNUSED(GetObjectText, LONG, BSTR*)
    SIM_UNUSED(SpawnDerivedClass, LONG, IWbemClassObject**)
    SIM_UNUSED(CompareTo, LONG, IWbemClassObject*)
    SIM_UNUSED(GetPropertyOrigin, LPCWSTR, BSTR*)
    SIM_UNUSED(InheritsFrom, LPCWSTR)
    SIM_UNUSED(PutMethod, LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*)
    SIM_UNUSED(DeleteMethod, LPCWSTR)
    SIM_UNUSED(BeginMethodEnumeration, LONG)
    SIM_UNUSED(NextMethod, LONG, BSTR*, IWbemClassObject**, IWbemClassObject**)
    SIM_UNUSED(EndMethodEnumeration)
    SIM_UNUSED(GetMethodQualifierSet, LPCWSTR, IWbemQualifierSet**)
    SIM_UNUSED(GetMethodOrigin, LPCWSTR, BSTR*)
};

#undef SIM_UNUSED

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

// Makes the call-result object of a semi-synchronous call; id receives its number for the log.
IWbemCallResult* SimCreateCallResult(std::shared_ptr<SimSession> session, std::shared_ptr<SimPendingAnswer> answer,
                                     long& id);

// Answers a call: at once (delay 0), after the delay on a worker thread of its own (the DLL kept loaded
// until it is done), or never.
void SimAnswerLater(const SimAnswer& answer, std::function<void()> work);

// Waits for a synchronous call's answer: the delay, or for ever when it never comes.
void SimWaitForAnswer(const SimAnswer& answer);
// A stall and the time, by the test's virtual clock when it has one (see VirtualClock.h), else in real time.
void SimSleep(DWORD ms);
ULONGLONG SimNowMs();
// Waits for the handle as a call through a proxy waits in the caller's apartment: dispatching the thread's
// messages in a single-threaded one.
void SimWait(HANDLE handle, DWORD timeoutMs);

// What a class object stands for; decides which calls it answers.
enum class SimObjectKind { Class, Instance, InSignature, OutSignature, InParams, OutParams };

// A class definition, instance or parameter object, with its properties and (for the class) its methods.
class SimClassObject final : public SimClassObjectBase<SimObject<IWbemClassObject>> {
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
    HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType,
                                  LONG* plFlavor) override;
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) override;
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) override;
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject** ppInSignature,
                                        IWbemClassObject** ppOutSignature) override;

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
