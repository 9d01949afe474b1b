// The references for the start-up benchmark: a bare dialog program built the same way as the tool, with
// the same resources, that shows the settings dialog's template and does nothing else; and, built with
// PELLORAN_REFERENCE_FIRMWARE, the same dialog that first makes the COM set-up, the WMI connection and
// the instance query that any program asking the firmware must make (the floor for the tool).
#include <windows.h>

#ifdef PELLORAN_REFERENCE_FIRMWARE
#include <wbemidl.h>
#include <wrl/client.h>
#endif

#include "res/resource.h"

namespace {

#ifdef PELLORAN_REFERENCE_FIRMWARE
using Microsoft::WRL::ComPtr;

// COM set-up, connection to root\wmi and the query of the firmware's class, counting its instances.
void AskTheFirmware() {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE,
                           nullptr, EOAC_SECURE_REFS, nullptr);
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
    ComPtr<IEnumWbemClassObject> instances;
    BSTR ns = ::SysAllocString(L"root\\wmi");
    BSTR language = ::SysAllocString(L"WQL");
    BSTR query = ::SysAllocString(L"Select * From TolvekManagement");
    if (SUCCEEDED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                     reinterpret_cast<void**>(locator.GetAddressOf()))) &&
        locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.GetAddressOf()) == S_OK &&
        SUCCEEDED(services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                      instances.GetAddressOf()))) {
        for (;;) {
            ComPtr<IWbemClassObject> instance;
            ULONG returned = 0;
            instances->Next(3000, 1, instance.GetAddressOf(), &returned);
            if (returned == 0) break;
        }
    }
    ::SysFreeString(query);
    ::SysFreeString(language);
    ::SysFreeString(ns);
}
#endif

INT_PTR CALLBACK ReferenceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
#ifdef PELLORAN_REFERENCE_FIRMWARE
        AskTheFirmware();
#endif
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const INT_PTR result =
        ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_PELLORAN_DIALOG), nullptr, &ReferenceProc, 0);
#ifdef PELLORAN_REFERENCE_FIRMWARE
    ::CoUninitialize();
#endif
    return static_cast<int>(result);
}
