// Modal dialogs from templates: the dialog procedure binds the C++ object to its window.
#include "framework/Afx.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    // void OnOK()
    ON_COMMAND(IDOK, OnOK)
    // void OnCancel()
    ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
    // Without a parent the owner is the application's main window, unless that is this very dialog
    // (the settings dialog is the main window and has no owner).
    HWND hOwner = nullptr;
    if (m_pParentWnd != nullptr) {
        hOwner = m_pParentWnd->m_hWnd;
    } else if (CWnd* main = AfxGetMainWnd(); main != nullptr && main != this) {
        hOwner = main->m_hWnd;
    }
    return ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), hOwner,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // The dialog's window procedure offers every message to DialogProc first and does its own default
    // processing when that declines: the flag makes DialogProc decline this one message.
    const auto windowProc = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC));
    m_bPassToDefault = true;
    const LRESULT result = ::CallWindowProcW(windowProc, m_hWnd, message, wParam, lParam);
    m_bPassToDefault = false;
    return result;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        dialog->m_hWnd = hWnd;
        RECT before;
        ::GetWindowRect(hWnd, &before);
        const BOOL result = dialog->OnInitDialog();
        // A dialog that its initialisation did not place opens centred, as users expect.
        RECT after;
        if (::IsWindow(hWnd) && ::GetWindowRect(hWnd, &after) && ::EqualRect(&before, &after))
            dialog->CenterWindow();
        return result;
    }

    // Messages before WM_INITDIALOG (WM_SETFONT and the like) go to default processing, and so does a
    // message that a handler passes on (see DefWindowProc).
    auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    if (dialog == nullptr) return FALSE;
    if (dialog->m_bPassToDefault) {
        dialog->m_bPassToDefault = false;
        return FALSE;
    }

    LRESULT result = 0;
    const bool handled = dialog->OnWndMsg(message, wParam, lParam, &result);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
    }
    if (!handled) return FALSE;

    // These few messages return their result directly; all others through DWLP_MSGRESULT.
    switch (message) {
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORDLG:
        return static_cast<INT_PTR>(result);
    default:
        ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}
