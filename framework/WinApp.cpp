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

int AfxWinMain(HINSTANCE hInstance) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    app->m_hInstance = hInstance;
    // InitInstance false: no message loop, straight to the normal shutdown.
    return app->InitInstance() ? app->Run() : app->ExitInstance();
}
