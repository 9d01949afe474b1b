// The application object, the process's start-up and shutdown.
#include "framework/Afx.h"

namespace {
CWinApp* g_pApp = nullptr;  // the one application object, set by its constructor
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
    // void OnHelp()
    ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CWinApp::CWinApp() { g_pApp = this; }

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = nullptr;
}

int CWinApp::Run() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return ExitInstance();
}

CWinApp* AfxGetApp() { return g_pApp; }

HINSTANCE AfxGetResourceHandle() {
    return g_pApp != nullptr && g_pApp->m_hInstance != nullptr ? g_pApp->m_hInstance
                                                                 : ::GetModuleHandleW(nullptr);
}

CWnd* AfxGetMainWnd() { return g_pApp != nullptr ? g_pApp->m_pMainWnd : nullptr; }

std::wstring AfxLoadString(UINT nID) {
    const wchar_t* text = nullptr;
    // A buffer size of 0 asks for a pointer into the read-only resource itself.
    const int length = ::LoadStringW(AfxGetResourceHandle(), nID, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text != nullptr ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

void AfxHardenDllSearch() {
    // An elevated program must never load a DLL planted beside it or in the current directory.
    // SetDefaultDllDirectories exists from Windows 8 (and 7 with its update); look it up by name.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
}

void AfxEnableDpiAwareness() {
    // Per-monitor v2 (Windows 10 1703 and later): the dialog manager lays the dialog out anew, its font and
    // frame included, whenever the window meets a monitor of another scaling. Windows 7, 8 and 10 before 1703
    // lack the function, so it is looked up by name. Where it is missing, or fails, the process asks to be
    // system aware (Vista and later): drawn at the scaling of the log-on, stretched by Windows only on a monitor
    // of another scaling. The call fails with ERROR_ACCESS_DENIED when the awareness was set already, which
    // then stays. Wine 8 has the function but knows no v2 context (ERROR_INVALID_PARAMETER), and draws the
    // windows of a system-aware process unscaled: there the process asks for per-monitor awareness (v1),
    // which it draws right. No Windows has the function without the v2 context.
    using SetContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user = ::GetModuleHandleW(L"user32.dll");
    auto setContext = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void*>(::GetProcAddress(user, "SetProcessDpiAwarenessContext")));
    if (setContext != nullptr) {
        if (setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) return;
        if (::GetLastError() == ERROR_INVALID_PARAMETER && setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE)) return;
    }
    ::SetProcessDPIAware();
}

int AfxWinMain(HINSTANCE hInstance) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    app->m_hInstance = hInstance;
    // InitInstance false: no message loop, straight to the normal shutdown.
    return app->InitInstance() ? app->Run() : app->ExitInstance();
}
