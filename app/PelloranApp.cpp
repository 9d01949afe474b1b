// Start-up: common controls, the single-instance guard, and the settings dialog run once.
#include "app/PelloranApp.h"

#include "ui/PelloranDlg.h"

#include <commctrl.h>

BEGIN_MESSAGE_MAP(CPelloranApp, CWinApp)
    // void OnHelp()
    ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

bool AnotherInstanceRuns() {
    // The handle is deliberately kept: the mutex marks this copy until the process ends. When it
    // cannot be created at all (another kind of object holds the name), this copy runs as the first.
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kSingleInstanceMutex);
    return mutex != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
}

BOOL CPelloranApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    CWinApp::InitInstance();

    if (AnotherInstanceRuns()) return FALSE;

    AfxEnableControlContainer();
    SetRegistryKey(L"本機 AppWizard 所產生的應用程式");

    CPelloranDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();  // every way the dialog ends continues the same way
    m_pMainWnd = nullptr;
    return FALSE;
}

// The one application object.
CPelloranApp theApp;
