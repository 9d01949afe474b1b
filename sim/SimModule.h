// What every simulated COM object shares: the module's count of live objects and a small IUnknown.
#pragma once

#include <windows.h>
#include <unknwn.h>

// The module handle of PelloranSim.dll, set when the DLL is attached.
extern HMODULE g_simModule;

// Counts one more live simulated object.
void SimObjectCreated();

// Counts one live simulated object less.
void SimObjectDestroyed();

// The number of simulated objects alive in this process.
LONG SimLiveObjects();

// Counts a simulated object of a kind (Locator, Services, ...) made (+1) or gone (-1).
void SimNoteKind(const wchar_t* kind, LONG delta);

// Reference counting and QueryInterface for an object that implements the one interface Itf.
// The object starts with one reference, held by whoever created it.
template <class Itf>
class SimUnknown : public Itf {
public:
    SimUnknown(const SimUnknown&) = delete;
    SimUnknown& operator=(const SimUnknown&) = delete;

    // Hands out Itf (and IUnknown); nothing else.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Itf))) {
            *ppv = static_cast<Itf*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    // One more reference.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }

    // One reference less; the object goes with the last one.
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&m_refs);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    SimUnknown() { SimObjectCreated(); }
    virtual ~SimUnknown() { SimObjectDestroyed(); }

private:
    LONG m_refs = 1;
};
