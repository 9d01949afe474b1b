// Small owners for the BSTRs and VARIANTs that the WMI calls take and hand back.
#pragma once

#include <windows.h>
#include <oleauto.h>

// A BSTR freed when it goes out of scope.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : m_bstr(text != nullptr ? ::SysAllocString(text) : nullptr) {}
    ~Bstr() { ::SysFreeString(m_bstr); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    operator BSTR() const { return m_bstr; }

private:
    BSTR m_bstr;
};

// A VARIANT cleared when it goes out of scope.
class Variant {
public:
    Variant() { ::VariantInit(&m_var); }
    explicit Variant(int value) : Variant() {
        V_VT(&m_var) = VT_I4;
        V_I4(&m_var) = value;
    }
    ~Variant() { ::VariantClear(&m_var); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    // The VARIANT for a call to fill in; a value it still holds is cleared first, never leaked.
    VARIANT* Receive() {
        ::VariantClear(&m_var);
        return &m_var;
    }
    const VARIANT& get() const { return m_var; }

private:
    VARIANT m_var;
};
