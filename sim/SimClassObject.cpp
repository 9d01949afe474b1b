// The simulated class objects: the class definition of TolvekManagement, its instances, the method
// signatures and the in- and out-parameter objects of the calls.
#include "sim/SimObjects.h"

#include <cwchar>

namespace {

// Asked of a class object, hands back the simulator's own object (never leaves the DLL).
// {0D8B7A52-3C51-4E6F-9A1E-5B2C7D4E8F10}
constexpr IID kIidSimClassObject = {0x0d8b7a52, 0x3c51, 0x4e6f, {0x9a, 0x1e, 0x5b, 0x2c, 0x7d, 0x4e, 0x8f, 0x10}};

constexpr wchar_t kParametersClass[] = L"__PARAMETERS";
constexpr wchar_t kMachine[] = L"\\\\SIMULATOR\\";

// The kind of an object in the log's words.
const wchar_t* KindName(SimObjectKind kind) {
    static const wchar_t* const kNames[] = {L"Class", L"Instance", L"InSignature", L"OutSignature", L"InParams", L"OutParams"};
    return kNames[static_cast<int>(kind)];
}

// The relative path of instance number index.
std::wstring RelativePath(int index) {
    return std::wstring(kSimClassName) + L".InstanceName=\"Tolvek_" + std::to_wstring(index) + L"\"";
}

// The status word in the VARIANT type the scenario asks for (narrow types lose the high bits, as they would;
// only the 64-bit types keep a word wider than 32 bits).
VARIANT StatusValue(ULONGLONG word, VARTYPE type) {
    VARIANT value;
    ::VariantInit(&value);
    V_VT(&value) = type;
    switch (type) {
    case VT_I4: V_I4(&value) = static_cast<LONG>(word); break;
    case VT_UI4: V_UI4(&value) = word; break;
    case VT_INT: V_INT(&value) = static_cast<INT>(word); break;
    case VT_UINT: V_UINT(&value) = word; break;
    case VT_I2: V_I2(&value) = static_cast<SHORT>(word); break;
    case VT_UI2: V_UI2(&value) = static_cast<USHORT>(word); break;
    case VT_I1: V_I1(&value) = static_cast<CHAR>(word); break;
    case VT_UI1: V_UI1(&value) = static_cast<BYTE>(word); break;
    case VT_I8: V_I8(&value) = static_cast<LONGLONG>(word); break;
    case VT_UI8: V_UI8(&value) = word; break;
    case VT_R4: V_R4(&value) = static_cast<float>(word); break;
    case VT_R8: V_R8(&value) = static_cast<double>(word); break;
    case VT_BOOL: V_BOOL(&value) = word != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_BSTR: V_BSTR(&value) = ::SysAllocString(std::to_wstring(word).c_str()); break;
    default: break;  // VT_NULL, VT_EMPTY: no value
    }
    return value;
}

}  // namespace

SimClassObject::SimClassObject(std::shared_ptr<SimSession> session, SimObjectKind kind, const wchar_t* className)
    : SimClassObjectBase(std::move(session), KindName(kind)), m_kind(kind), m_className(className) {}

SimClassObject::~SimClassObject() {
    for (Prop& prop : m_props) ::VariantClear(&prop.value);
}

void SimClassObject::AddProperty(const wchar_t* name, CIMTYPE type, const VARIANT* value) {
    Prop prop{name, type, {}};
    ::VariantInit(&prop.value);
    if (value != nullptr)
        ::VariantCopy(&prop.value, const_cast<VARIANT*>(value));
    else
        V_VT(&prop.value) = VT_NULL;
    m_props.push_back(prop);
}

void SimClassObject::AddText(const wchar_t* name, const wchar_t* text) {
    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = ::SysAllocString(text);
    AddProperty(name, CIM_STRING, &value);
    ::VariantClear(&value);
}

SimClassObject::Prop* SimClassObject::Find(const wchar_t* name) {
    if (name == nullptr) return nullptr;
    for (Prop& prop : m_props)
        if (_wcsicmp(prop.name.c_str(), name) == 0) return &prop;
    return nullptr;
}

const VARIANT* SimClassObject::Property(const wchar_t* name) const {
    const Prop* prop = const_cast<SimClassObject*>(this)->Find(name);
    return prop != nullptr ? &prop->value : nullptr;
}

std::wstring SimClassObject::InstancePath(int index) {
    return std::wstring(kMachine) + kSimNamespace + L":" + RelativePath(index);
}

SimClassObject* SimClassObject::MakeClass(std::shared_ptr<SimSession> session) {
    auto* object = new SimClassObject(std::move(session), SimObjectKind::Class, kSimClassName);
    object->AddText(L"__CLASS", kSimClassName);
    object->AddText(L"__RELPATH", kSimClassName);
    object->AddText(L"__PATH", (std::wstring(kMachine) + kSimNamespace + L":" + kSimClassName).c_str());
    object->AddProperty(L"InstanceName", CIM_STRING, nullptr);
    object->AddProperty(L"Active", CIM_BOOLEAN, nullptr);
    return object;
}

SimClassObject* SimClassObject::MakeInstance(std::shared_ptr<SimSession> session, int index) {
    const bool withPath = !session->scenario().missingPath;
    auto* object = new SimClassObject(std::move(session), SimObjectKind::Instance, kSimClassName);
    object->AddText(L"__CLASS", kSimClassName);
    if (withPath) {
        object->AddText(L"__RELPATH", RelativePath(index).c_str());
        object->AddText(L"__PATH", InstancePath(index).c_str());
    }
    object->AddText(L"InstanceName", (L"Tolvek_" + std::to_wstring(index)).c_str());
    VARIANT active;
    V_VT(&active) = VT_BOOL;
    V_BOOL(&active) = VARIANT_TRUE;
    object->AddProperty(L"Active", CIM_BOOLEAN, &active);
    return object;
}

SimClassObject* SimClassObject::MakeSignature(const wchar_t* method, bool in) const {
    const bool status = _wcsicmp(method, kSimMethodStatus) == 0;
    if (!in && !status) return nullptr;  // device_ctrl declares no out-parameters
    auto* object = new SimClassObject(m_session, in ? SimObjectKind::InSignature : SimObjectKind::OutSignature,
                                      kParametersClass);
    object->AddText(L"__CLASS", kParametersClass);
    if (in) object->AddProperty(kSimParamDevice, CIM_SINT32, nullptr);
    if (in != status) object->AddProperty(kSimParamControl, CIM_SINT32, nullptr);
    return object;
}

SimClassObject* SimClassObject::MakeOutParams(std::shared_ptr<SimSession> session, const wchar_t* method,
                                              ULONGLONG statusWord) {
    const SimScenario& scenario = session->scenario();
    const bool withStatus = _wcsicmp(method, kSimMethodStatus) == 0 && !scenario.statusMissing;
    const VARTYPE type = scenario.statusType;
    auto* object = new SimClassObject(std::move(session), SimObjectKind::OutParams, kParametersClass);
    object->AddText(L"__CLASS", kParametersClass);
    if (withStatus) {
        VARIANT value = StatusValue(statusWord, type);
        object->AddProperty(kSimParamControl, CIM_SINT32, &value);
        ::VariantClear(&value);
    }
    return object;
}

SimClassObject* SimClassObject::From(IWbemClassObject* object) {
    if (object == nullptr) return nullptr;
    void* own = nullptr;
    if (FAILED(object->QueryInterface(kIidSimClassObject, &own)) || own == nullptr) return nullptr;
    auto* simObject = static_cast<SimClassObject*>(static_cast<IWbemClassObject*>(own));
    simObject->Release();  // the caller holds its own reference
    return simObject;
}

HRESULT STDMETHODCALLTYPE SimClassObject::QueryInterface(REFIID riid, void** ppv) {
    if (ppv != nullptr && IsEqualIID(riid, kIidSimClassObject)) {
        *ppv = static_cast<IWbemClassObject*>(this);
        AddRef();
        return S_OK;
    }
    return SimObject::QueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE SimClassObject::Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType,
                                              LONG* plFlavor) {
    SimLogLine line = Call(L"Get");
    line.Text(L"name", wszName).Hex(L"flags", static_cast<unsigned long>(lFlags));
    const Prop* prop = Find(wszName);
    HRESULT hr = S_OK;
    if (wszName == nullptr)
        hr = WBEM_E_INVALID_PARAMETER;
    else if (prop == nullptr)
        hr = WBEM_E_NOT_FOUND;
    if (hr == S_OK) {
        if (pVal != nullptr) {
            ::VariantInit(pVal);
            hr = ::VariantCopy(pVal, const_cast<VARIANT*>(&prop->value));
        }
        if (pType != nullptr) *pType = prop->type;
        if (plFlavor != nullptr) *plFlavor = prop->name.compare(0, 2, L"__") == 0 ? WBEM_FLAVOR_ORIGIN_SYSTEM : 0;
    }
    line.Hex(L"hr", static_cast<unsigned long>(hr));
    if (hr == S_OK) line.Value(&prop->value);
    line.Write();
    return hr;
}

HRESULT STDMETHODCALLTYPE SimClassObject::Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) {
    SimLogLine line = Call(L"Put");
    line.Text(L"name", wszName).Hex(L"flags", static_cast<unsigned long>(lFlags)).Value(pVal).Int(L"type", Type);
    Prop* prop = Find(wszName);
    HRESULT hr = S_OK;
    if (wszName == nullptr)
        hr = WBEM_E_INVALID_PARAMETER;
    else if (prop == nullptr)
        hr = WBEM_E_NOT_FOUND;
    else if (prop->name.compare(0, 2, L"__") == 0)
        hr = WBEM_E_READ_ONLY;
    else {
        // The value is kept as sent, so that the firmware sees the type the caller chose.
        ::VariantClear(&prop->value);
        if (pVal != nullptr && V_VT(pVal) != VT_EMPTY)
            hr = ::VariantCopy(&prop->value, pVal);
        else
            V_VT(&prop->value) = VT_NULL;
    }
    line.Hex(L"hr", static_cast<unsigned long>(hr)).Write();
    return hr;
}

HRESULT STDMETHODCALLTYPE SimClassObject::GetMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject** ppInSignature,
                                                    IWbemClassObject** ppOutSignature) {
    SimLogLine line = Call(L"GetMethod");
    line.Text(L"name", wszName).Hex(L"flags", static_cast<unsigned long>(lFlags));
    if (ppInSignature != nullptr) *ppInSignature = nullptr;
    if (ppOutSignature != nullptr) *ppOutSignature = nullptr;
    SimClassObject* in = nullptr;
    SimClassObject* out = nullptr;

    const SimAnswer answer = m_session->NextAnswer(L"GetMethod");  // in hand: at once, whatever the delay
    HRESULT hr = answer.hasCode ? answer.hr : S_OK;
    const bool known = wszName != nullptr &&
                       (_wcsicmp(wszName, kSimMethodStatus) == 0 || _wcsicmp(wszName, kSimMethodControl) == 0);
    if (FAILED(hr)) {
        // refused: no definitions
    } else if (m_kind != SimObjectKind::Class) {
        hr = WBEM_E_ILLEGAL_OPERATION;
    } else if (!known) {
        hr = WBEM_E_NOT_FOUND;
    } else {
        if (ppInSignature != nullptr) *ppInSignature = in = MakeSignature(wszName, true);
        if (ppOutSignature != nullptr) *ppOutSignature = out = MakeSignature(wszName, false);
    }
    line.Hex(L"hr", static_cast<unsigned long>(hr))
        .Id(L"in", in != nullptr ? in->id() : 0)
        .Id(L"outsig", out != nullptr ? out->id() : 0)
        .Write();
    return hr;
}

HRESULT STDMETHODCALLTYPE SimClassObject::SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) {
    SimLogLine line = Call(L"SpawnInstance");
    line.Hex(L"flags", static_cast<unsigned long>(lFlags));
    SimClassObject* spawned = nullptr;
    const SimAnswer answer = m_session->NextAnswer(L"SpawnInstance");  // in hand: at once, whatever the delay
    HRESULT hr = answer.hasCode ? answer.hr : S_OK;
    if (ppNewInstance == nullptr) {
        hr = WBEM_E_INVALID_PARAMETER;
    } else if (FAILED(hr)) {
        *ppNewInstance = nullptr;
    } else if (m_kind == SimObjectKind::Instance || m_kind == SimObjectKind::InParams ||
               m_kind == SimObjectKind::OutParams) {
        *ppNewInstance = nullptr;
        hr = WBEM_E_ILLEGAL_OPERATION;  // instances are spawned from definitions only
    } else {
        const SimObjectKind kind = m_kind == SimObjectKind::Class         ? SimObjectKind::Instance
                                   : m_kind == SimObjectKind::InSignature ? SimObjectKind::InParams
                                                                          : SimObjectKind::OutParams;
        spawned = new SimClassObject(m_session, kind, m_className.c_str());
        for (const Prop& prop : m_props) {
            const bool system = prop.name.compare(0, 2, L"__") == 0;
            spawned->AddProperty(prop.name.c_str(), prop.type, system ? &prop.value : nullptr);
        }
        *ppNewInstance = spawned;
    }
    line.Hex(L"hr", static_cast<unsigned long>(hr)).Id(L"out", spawned != nullptr ? spawned->id() : 0).Write();
    return hr;
}
