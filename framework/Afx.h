// Pelloran's thin application framework: the handful of classes, macros and free functions that
// a one-dialog tool needs, under the familiar names (CObject, CCmdTarget, CWnd, CDialog, CWinApp).
#pragma once

#include <windows.h>

#include <string>

class CCmdTarget;

// ---- Message maps -------------------------------------------------------------------------------

// The handler shapes a message map can call; each entry records which one it holds.
enum AfxSig : UINT {
    AfxSig_end = 0,  // marks the end of a table
    AfxSig_vv,       // void Handler()
    AfxSig_vwl,      // void Handler(UINT, LPARAM)
    AfxSig_hv,       // HCURSOR Handler()
    AfxSig_bdw,      // HBRUSH Handler(HDC, HWND)
};

using AFX_PMSG = void (CCmdTarget::*)();
using AFX_PMSG_vwl = void (CCmdTarget::*)(UINT, LPARAM);
using AFX_PMSG_hv = HCURSOR (CCmdTarget::*)();
using AFX_PMSG_bdw = HBRUSH (CCmdTarget::*)(HDC, HWND);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // window message
    UINT nCode;     // notification code, for WM_COMMAND
    UINT nID;       // control or command id, for WM_COMMAND
    AfxSig nSig;    // shape of pfn
    AFX_PMSG pfn;   // the handler, cast to the common shape
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();  // null for the root of the chain
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// A handler of shape `sigType`, stored as the common shape; the dispatcher casts it back.
#define AFX_MSG_HANDLER(sigType, pfn) reinterpret_cast<AFX_PMSG>(static_cast<sigType>(pfn))

#define DECLARE_MESSAGE_MAP()                                   \
protected:                                                      \
    static const AFX_MSGMAP* GetThisMessageMap();               \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                              \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                     \
        return GetThisMessageMap();                                         \
    }                                                                       \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                       \
        using ThisClass = theClass;                                         \
        using TheBaseClass = baseClass;                                     \
        static_assert(sizeof(ThisClass) > 0, "complete class");            \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                   \
            {0, 0, 0, AfxSig_end, nullptr}                                  \
        };                                                                  \
        static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries}; \
        return &map;                                                        \
    }

// void OnCommandHandler()
#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, 0, (id), AfxSig_vv, AFX_MSG_HANDLER(AFX_PMSG, &ThisClass::memberFxn)},
// void OnBnClickedX()
#define ON_BN_CLICKED(id, memberFxn) \
    {WM_COMMAND, BN_CLICKED, (id), AfxSig_vv, AFX_MSG_HANDLER(AFX_PMSG, &ThisClass::memberFxn)},
// void OnSysCommand(UINT nID, LPARAM lParam)
#define ON_WM_SYSCOMMAND() \
    {WM_SYSCOMMAND, 0, 0, AfxSig_vwl, AFX_MSG_HANDLER(AFX_PMSG_vwl, &ThisClass::OnSysCommand)},
// void OnPaint()
#define ON_WM_PAINT() \
    {WM_PAINT, 0, 0, AfxSig_vv, AFX_MSG_HANDLER(AFX_PMSG, &ThisClass::OnPaint)},
// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON() \
    {WM_QUERYDRAGICON, 0, 0, AfxSig_hv, AFX_MSG_HANDLER(AFX_PMSG_hv, &ThisClass::OnQueryDragIcon)},
// HBRUSH OnCtlColor(HDC hDC, HWND hControl), for WM_CTLCOLORSTATIC, WM_CTLCOLORBTN or WM_CTLCOLOREDIT
#define ON_WM_CTLCOLOR(message) \
    {(message), 0, 0, AfxSig_bdw, AFX_MSG_HANDLER(AFX_PMSG_bdw, &ThisClass::OnCtlColor)},
// void OnDestroy()
#define ON_WM_DESTROY() \
    {WM_DESTROY, 0, 0, AfxSig_vv, AFX_MSG_HANDLER(AFX_PMSG, &ThisClass::OnDestroy)},

// ---- Classes ------------------------------------------------------------------------------------

// Root of the class tree: only a virtual destructor.
class CObject {
public:
    CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
    virtual ~CObject() = default;
};

// An object that receives messages through a message map.
class CCmdTarget : public CObject {
public:
    // The entry of this object's map chain that takes the message, or null.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message, WPARAM wParam) const;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

// A window owned by a C++ object.
class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;

    // Routes one message through the map chain; false when no entry takes it.
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    // Default processing of the message being handled, with its own wParam and lParam: the window's own
    // default procedure (for a dialog, the dialog manager's).
    LRESULT Default();

    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    void SetDlgItemText(int nID, const wchar_t* text) const { ::SetDlgItemTextW(m_hWnd, nID, text); }
    void EnableDlgItem(int nID, BOOL bEnable) const { ::EnableWindow(GetDlgItem(nID), bEnable); }
    void CheckDlgButton(int nID, UINT nCheck) const;
    bool IsDlgButtonChecked(int nID) const;
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    HMENU GetSystemMenu(BOOL bRevert) const { return ::GetSystemMenu(m_hWnd, bRevert); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    void SetIcon(HICON hIcon, BOOL bBigIcon) const { SendMessage(WM_SETICON, bBigIcon, reinterpret_cast<LPARAM>(hIcon)); }
    // Centres the window over its owner, or over the work area of its monitor when it has none.
    void CenterWindow() const;
    int MessageBox(const wchar_t* text, const wchar_t* caption, UINT type) const {
        return ::MessageBoxW(m_hWnd, text, caption, type);
    }

protected:
    void OnPaint() { Default(); }
    void OnDestroy() { Default(); }
    void OnSysCommand(UINT, LPARAM) { Default(); }

    // The window's own default processing of a message; a plain window's is DefWindowProcW.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    CurrentMessage m_current{};  // the message OnWndMsg is dispatching, for Default()
};

// A modal dialog built from a dialog template in the resources.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Runs the dialog's modal loop; the EndDialog result, or -1 when the dialog cannot be created.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult) const { ::EndDialog(m_hWnd, nResult); }

    // Called at WM_INITDIALOG; true lets the dialog manager set the focus.
    virtual BOOL OnInitDialog() { return TRUE; }

protected:
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // A control about to draw its text: one that reads from right to left gets a device context
    // that lays text out so, for the control implementations that do not look at its style.
    HBRUSH OnCtlColor(HDC hDC, HWND hControl);

    // The dialog manager's default processing, without offering the message to the handlers again.
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    // The dialog moved to a monitor of another scaling while Windows leaves the scaling to the program
    // (per-monitor v1): the window takes the suggested rectangle, its controls and their font the new scale.
    void ScaleToDpi(UINT dpi, const RECT& suggested);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    bool m_bPassToDefault = false;  // the next message DialogProc sees goes to default processing
    // Extended styles added, for this run only, to the dialog window and to each of its controls;
    // the template in the resources stays as it is. For a language written from right to left:
    // WS_EX_LAYOUTRTL mirrors the dialog with its controls, WS_EX_RTLREADING orders their texts.
    DWORD m_dwAddedExStyle = 0;
    DWORD m_dwAddedControlExStyle = 0;
    UINT m_nDpi = 0;                 // the scale the controls are laid out for
    HFONT m_hScaledFont = nullptr;   // the controls' font at that scale, the dialog's own

    DECLARE_MESSAGE_MAP()
};

// Whether this thread's windows are per-monitor aware in the first version, where a window has to follow a
// change of scaling itself; per-monitor v2 and the other awarenesses leave that to Windows.
bool AfxScalesOwnWindows();
// The scale of a window in dots per inch: its monitor's where Windows tells it, else the system's.
UINT AfxDpiOf(HWND hWnd);

// The application: start-up, the main window, shutdown.
class CWinApp : public CCmdTarget {
public:
    CWinApp();
    ~CWinApp() override;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int Run();
    virtual int ExitInstance() { return m_nExitCode; }

    // Names the registry root of the framework's profile functions (the tool keeps nothing there).
    void SetRegistryKey(const wchar_t* key) { m_strRegistryKey = key; }
    const std::wstring& GetRegistryKey() const { return m_strRegistryKey; }

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;

protected:
    // The framework's Help command: the tool ships no help content, so it does nothing.
    void OnHelp() {}

    int m_nExitCode = 0;
    std::wstring m_strRegistryKey;

    DECLARE_MESSAGE_MAP()
};

// A device context for painting, between BeginPaint and EndPaint.
class CPaintDC {
public:
    explicit CPaintDC(const CWnd& wnd) : m_hWnd(wnd.m_hWnd), m_hDC(::BeginPaint(m_hWnd, &m_ps)) {}
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    void DrawIcon(int x, int y, HICON hIcon) const { ::DrawIcon(m_hDC, x, y, hIcon); }

private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps{};

public:
    HDC m_hDC;
};

// ---- Free functions -----------------------------------------------------------------------------

CWinApp* AfxGetApp();
HINSTANCE AfxGetResourceHandle();
CWnd* AfxGetMainWnd();
// String resource `nID` from the application's resources; empty when it is missing.
std::wstring AfxLoadString(UINT nID);
// Hosting of ActiveX controls in dialogs: the tool's dialogs hold none, so this does nothing.
inline void AfxEnableControlContainer() {}
// The framework's start-up and shutdown around the application object's InitInstance.
int AfxWinMain(HINSTANCE hInstance);
// Restricts where the process loads DLLs from to the system folder.
void AfxHardenDllSearch();
// Makes the process draw its windows at the display's scaling instead of having them stretched as a bitmap:
// per-monitor (v2) aware where Windows has it, system aware otherwise (per-monitor v1 under Wine 8, which knows
// no v2 and draws a system-aware process's windows unscaled). Call it before any window exists.
void AfxEnableDpiAwareness();

// The framework's Help command id.
constexpr UINT ID_HELP = 0xE146;
