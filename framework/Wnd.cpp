// Message maps and message routing of CCmdTarget and CWnd.
#include "framework/Afx.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, AfxSig_end, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT message, WPARAM wParam) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->nSig != AfxSig_end; ++entry) {
            if (entry->nMessage != message) continue;
            if (message == WM_COMMAND &&
                (entry->nCode != HIWORD(wParam) || entry->nID != LOWORD(wParam)))
                continue;
            return entry;
        }
    }
    return nullptr;
}

bool CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message, wParam);
    if (entry == nullptr) return false;

    // Handlers may pump messages of their own (a message box, a nested dialog): keep the outer one.
    const CurrentMessage outer = m_current;
    m_current = {message, wParam, lParam};
    LRESULT result = 0;
    switch (entry->nSig) {
    case AfxSig_vv:
        (this->*entry->pfn)();
        break;
    case AfxSig_vwl:
        (this->*reinterpret_cast<AFX_PMSG_vwl>(entry->pfn))(static_cast<UINT>(wParam), lParam);
        break;
    case AfxSig_hv:
        result = reinterpret_cast<LRESULT>((this->*reinterpret_cast<AFX_PMSG_hv>(entry->pfn))());
        break;
    case AfxSig_end:
        break;
    }
    m_current = outer;
    if (pResult != nullptr) *pResult = result;
    return true;
}

LRESULT CWnd::Default() {
    return ::DefWindowProcW(m_hWnd, m_current.message, m_current.wParam, m_current.lParam);
}

void CWnd::CheckDlgButton(int nID, UINT nCheck) const {
    ::SendDlgItemMessageW(m_hWnd, nID, BM_SETCHECK, nCheck, 0);
}

bool CWnd::IsDlgButtonChecked(int nID) const {
    return ::SendDlgItemMessageW(m_hWnd, nID, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
