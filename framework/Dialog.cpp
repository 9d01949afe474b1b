// Modal dialogs from templates: the dialog procedure binds the C++ object to its window.
#include "framework/Afx.h"

#include <cstring>
#include <vector>

namespace {

// Reads and rewrites the DWORDs of a copied dialog template, never past its end.
class TemplateBytes {
public:
    explicit TemplateBytes(std::vector<BYTE>& bytes) : m_bytes(bytes) {}

    bool Fits(size_t at, size_t size) const { return at <= m_bytes.size() && size <= m_bytes.size() - at; }
    WORD Word(size_t at) const {
        WORD value = 0;
        if (Fits(at, sizeof(value))) std::memcpy(&value, &m_bytes[at], sizeof(value));
        return value;
    }
    DWORD Dword(size_t at) const {
        DWORD value = 0;
        if (Fits(at, sizeof(value))) std::memcpy(&value, &m_bytes[at], sizeof(value));
        return value;
    }
    void AddBits(size_t at, DWORD bits) {
        const DWORD value = Dword(at) | bits;
        std::memcpy(&m_bytes[at], &value, sizeof(value));
    }
    // The offset after a name or ordinal field: empty, 0xFFFF and an ordinal, or a terminated string.
    size_t SkipNameOrOrdinal(size_t at) const {
        if (Word(at) == 0xFFFF) return at + 2 * sizeof(WORD);
        while (Fits(at, sizeof(WORD)) && Word(at) != 0) at += sizeof(WORD);
        return at + sizeof(WORD);
    }

private:
    std::vector<BYTE>& m_bytes;
};

size_t AlignToDword(size_t at) { return (at + 3) & ~size_t(3); }

// A copy of a dialog template (DIALOG or DIALOGEX) from the resources with extended styles added to
// the dialog's own and to each control's; empty when the template is missing or cut short.
std::vector<BYTE> TemplateWithExStyles(HINSTANCE module, UINT id, DWORD dialogExStyle, DWORD controlExStyle) {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), RT_DIALOG);
    HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
    const BYTE* bytes = loaded != nullptr ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
    if (bytes == nullptr) return {};
    std::vector<BYTE> copy(bytes, bytes + ::SizeofResource(module, found));
    TemplateBytes t(copy);

    // Header: DIALOGEX starts with version 1 and signature 0xFFFF, then its help id; the extended
    // style comes before the style in DIALOGEX and after it in DIALOG.
    const bool extended = t.Word(0) == 1 && t.Word(2) == 0xFFFF;
    const size_t exStyleAt = extended ? 8 : 4;
    const size_t styleAt = extended ? 12 : 0;
    const size_t countAt = extended ? 16 : 8;
    size_t at = countAt + sizeof(WORD) + 4 * sizeof(short);  // past the count, position and size
    if (!t.Fits(0, at)) return {};
    t.AddBits(exStyleAt, dialogExStyle);
    const DWORD style = t.Dword(styleAt);
    const WORD controls = t.Word(countAt);
    at = t.SkipNameOrOrdinal(at);  // menu
    at = t.SkipNameOrOrdinal(at);  // window class
    at = t.SkipNameOrOrdinal(at);  // caption
    if (style & DS_SETFONT) {
        at += extended ? sizeof(WORD) + sizeof(WORD) + 2 * sizeof(BYTE) : sizeof(WORD);  // size, weight, italic, charset
        while (t.Fits(at, sizeof(WORD)) && t.Word(at) != 0) at += sizeof(WORD);  // typeface
        at += sizeof(WORD);
    }

    // Controls, each DWORD-aligned: DIALOGEX has help id, extended style, style; DIALOG style, then
    // extended style. Position and size, the id (DWORD in DIALOGEX, WORD in DIALOG), class, text,
    // and the size of the creation data that follows.
    for (WORD i = 0; i < controls; ++i) {
        at = AlignToDword(at);
        const size_t fixed = extended ? 3 * sizeof(DWORD) + 4 * sizeof(short) + sizeof(DWORD)
                                      : 2 * sizeof(DWORD) + 4 * sizeof(short) + sizeof(WORD);
        if (!t.Fits(at, fixed)) return {};
        t.AddBits(at + sizeof(DWORD), controlExStyle);  // the second DWORD in both forms
        at = t.SkipNameOrOrdinal(at + fixed);  // class
        at = t.SkipNameOrOrdinal(at);          // text
        if (!t.Fits(at, sizeof(WORD))) return {};
        at += sizeof(WORD) + t.Word(at);       // creation data
    }
    return t.Fits(0, at) ? copy : std::vector<BYTE>();
}

}  // namespace

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    // void OnOK()
    ON_COMMAND(IDOK, OnOK)
    // void OnCancel()
    ON_COMMAND(IDCANCEL, OnCancel)
    // HBRUSH OnCtlColor(HDC hDC, HWND hControl)
    ON_WM_CTLCOLOR(WM_CTLCOLORSTATIC)
    ON_WM_CTLCOLOR(WM_CTLCOLORBTN)
    ON_WM_CTLCOLOR(WM_CTLCOLOREDIT)
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
    if (m_dwAddedExStyle == 0 && m_dwAddedControlExStyle == 0)
        return ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), hOwner,
                                 &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    // The dialog manager gives child windows their parent's mirroring as it creates them, so the
    // added styles go into a copy of the template rather than onto the windows afterwards.
    const std::vector<BYTE> dialogTemplate =
        TemplateWithExStyles(AfxGetResourceHandle(), m_nIDTemplate, m_dwAddedExStyle, m_dwAddedControlExStyle);
    if (dialogTemplate.empty()) return -1;
    return ::DialogBoxIndirectParamW(AfxGetResourceHandle(), reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()),
                                     hOwner, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
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
        dialog->m_nDpi = AfxDpiOf(hWnd);  // the scale the dialog manager laid the controls out for
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
    // Per-monitor v2 has the dialog manager follow a change of scaling; v1 leaves it to the window. The
    // new scale is in the low word of wParam, the suggested window rectangle behind lParam.
    if (message == WM_DPICHANGED && lParam != 0 && AfxScalesOwnWindows()) {
        dialog->ScaleToDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    if (message == WM_NCDESTROY && dialog->m_hScaledFont != nullptr) {
        ::DeleteObject(dialog->m_hScaledFont);
        dialog->m_hScaledFont = nullptr;
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

void CDialog::ScaleToDpi(UINT dpi, const RECT& suggested) {
    const UINT from = m_nDpi;
    if (dpi == 0 || from == 0) return;
    // The font first, so that the controls lay their texts out at the new size once placed.
    LOGFONTW font = {};
    const auto current = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    HFONT scaled = nullptr;
    if (current != nullptr && ::GetObjectW(current, sizeof(font), &font) == sizeof(font)) {
        font.lfHeight = ::MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(from));
        scaled = ::CreateFontIndirectW(&font);
    }
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        ::GetWindowRect(child, &r);
        ::MapWindowPoints(HWND_DESKTOP, m_hWnd, reinterpret_cast<POINT*>(&r), 2);  // mirrored dialogs too
        const auto scale = [&](LONG v) { return ::MulDiv(v, static_cast<int>(dpi), static_cast<int>(from)); };
        ::SetWindowPos(child, nullptr, scale(r.left), scale(r.top), scale(r.right) - scale(r.left),
                       scale(r.bottom) - scale(r.top), SWP_NOZORDER | SWP_NOACTIVATE);
        if (scaled != nullptr) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(scaled), TRUE);
    }
    if (scaled != nullptr) {
        ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(scaled), FALSE);
        if (m_hScaledFont != nullptr) ::DeleteObject(m_hScaledFont);
        m_hScaledFont = scaled;
    }
    ::SetWindowPos(m_hWnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    m_nDpi = dpi;
}

bool AfxScalesOwnWindows() {
    using GetContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)();
    using EqualFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);
    HMODULE user = ::GetModuleHandleW(L"user32.dll");
    const auto getContext = reinterpret_cast<GetContextFn>(
        reinterpret_cast<void*>(::GetProcAddress(user, "GetThreadDpiAwarenessContext")));
    const auto equal = reinterpret_cast<EqualFn>(
        reinterpret_cast<void*>(::GetProcAddress(user, "AreDpiAwarenessContextsEqual")));
    return getContext != nullptr && equal != nullptr && equal(getContext(), DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
}

UINT AfxDpiOf(HWND hWnd) {
    using GetDpiFn = UINT(WINAPI*)(HWND);
    const auto getDpi = reinterpret_cast<GetDpiFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi != nullptr) return getDpi(hWnd);
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) ::ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

HBRUSH CDialog::OnCtlColor(HDC hDC, HWND hControl) {
    if (::GetWindowLongW(hControl, GWL_EXSTYLE) & WS_EX_RTLREADING)
        ::SetTextAlign(hDC, ::GetTextAlign(hDC) | TA_RTLREADING);
    return reinterpret_cast<HBRUSH>(Default());
}
