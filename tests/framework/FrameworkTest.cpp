// The thin framework: message maps chained to their bases, modal dialogs and their owners, and
// default processing of what a handler passes on.
#include "framework/Afx.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr UINT kTemplate = 1;     // the test's own dialog template
constexpr UINT kButton = 10;      // its one push button
constexpr UINT kRunNested = 11;   // a command that opens a second dialog
constexpr UINT kCheckOwner = 12;  // a command that looks at the owner, then ends the dialog
constexpr UINT kAskDefault = 13;  // a command that asks the dialog for its default button, then ends it

CWinApp g_app;  // the framework wants its one application object

// A dialog that records what reaches its handlers and ends the way the test asks.
class ProbeDialog : public CDialog {
public:
    explicit ProbeDialog(std::vector<UINT> toPost = {}) : CDialog(kTemplate), m_toPost(std::move(toPost)) {}

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        for (UINT message : m_toPost) {
            if (message == WM_SYSCOMMAND)
                ::PostMessageW(m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
            else
                ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(message, BN_CLICKED), 0);
        }
        m_owner = ::GetWindow(m_hWnd, GW_OWNER);
        return TRUE;
    }

    // Where the dialog stands once its initialisation is over, against where it should stand.
    void OnCheckPlace() {
        RECT window, area;
        ::GetWindowRect(m_hWnd, &window);
        if (m_owner != nullptr) {
            ::GetWindowRect(m_owner, &area);
        } else {
            MONITORINFO monitor = {sizeof(monitor)};
            ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
            area = monitor.rcWork;
        }
        m_offCentre = {(window.left + window.right) / 2 - (area.left + area.right) / 2,
                       (window.top + window.bottom) / 2 - (area.top + area.bottom) / 2};
    }

    // What a nested dialog sees of its owner, inside its modal loop.
    void OnCheckOwner() {
        OnCheckPlace();
        m_ownerEnabled = m_owner != nullptr && ::IsWindowEnabled(m_owner);
        EndDialog(77);
    }

    void OnPressed() { m_log.push_back(kButton); }
    void OnRunNested() {
        OnCheckPlace();
        m_outerOffCentre = m_offCentre;
        ProbeDialog nested({kCheckOwner});
        m_nestedResult = nested.DoModal();
        m_nestedOwner = nested.m_owner;
        m_nestedOffCentre = nested.m_offCentre;
        m_nestedOwnerEnabled = nested.m_ownerEnabled;
        m_enabledAfterNested = ::IsWindowEnabled(m_hWnd);
        EndDialog(55);
    }
    void OnAskDefault() {
        ::SendMessageW(m_hWnd, DM_SETDEFID, kButton, 0);
        m_defaultId = ::SendMessageW(m_hWnd, DM_GETDEFID, 0, 0);
        EndDialog(66);
    }
    // Passes DM_GETDEFID on: only a dialog's own default processing knows the default button.
    HCURSOR OnGetDefId() {
        m_log.push_back(DM_GETDEFID);
        return reinterpret_cast<HCURSOR>(Default());
    }
    void OnSysCommand(UINT nID, LPARAM lParam) {
        m_log.push_back(nID);
        CDialog::OnSysCommand(nID, lParam);  // default processing: the close command ends the dialog
    }

    std::vector<UINT> m_toPost;
    std::vector<UINT> m_log;
    HWND m_owner = nullptr;
    bool m_ownerEnabled = false;
    INT_PTR m_nestedResult = 0;
    HWND m_nestedOwner = nullptr;
    bool m_nestedOwnerEnabled = true;
    bool m_enabledAfterNested = false;
    POINT m_offCentre{1000, 1000};
    POINT m_outerOffCentre{1000, 1000};
    POINT m_nestedOffCentre{1000, 1000};
    LRESULT m_defaultId = 0;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeDialog, CDialog)
    ON_BN_CLICKED(kButton, OnPressed)
    ON_BN_CLICKED(kRunNested, OnRunNested)
    ON_BN_CLICKED(kCheckOwner, OnCheckOwner)
    ON_BN_CLICKED(kAskDefault, OnAskDefault)
    {DM_GETDEFID, 0, 0, AfxSig_hv, AFX_MSG_HANDLER(AFX_PMSG_hv, &ThisClass::OnGetDefId)},
    ON_WM_SYSCOMMAND()
END_MESSAGE_MAP()

TEST(MessageMapTest, OwnEntriesFirstThenTheBaseChain) {
    ProbeDialog dialog;
    const AFX_MSGMAP_ENTRY* own = dialog.FindMessageEntry(WM_COMMAND, MAKEWPARAM(kButton, BN_CLICKED));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->nID, kButton);
    // IDOK and IDCANCEL come from the dialog base's map.
    EXPECT_NE(dialog.FindMessageEntry(WM_COMMAND, MAKEWPARAM(IDOK, 0)), nullptr);
    EXPECT_NE(dialog.FindMessageEntry(WM_COMMAND, MAKEWPARAM(IDCANCEL, 0)), nullptr);
    // A different notification from a mapped control, or an unmapped message, finds nothing.
    EXPECT_EQ(dialog.FindMessageEntry(WM_COMMAND, MAKEWPARAM(kButton, BN_SETFOCUS)), nullptr);
    EXPECT_EQ(dialog.FindMessageEntry(WM_TIMER, 1), nullptr);
    EXPECT_EQ(dialog.FindMessageEntry(WM_PAINT, 0), nullptr);
    // The application's map holds the Help command.
    EXPECT_NE(g_app.FindMessageEntry(WM_COMMAND, MAKEWPARAM(ID_HELP, 0)), nullptr);
}

TEST(ModalDialogTest, HandlersRunAndCancelEndsTheDialog) {
    ProbeDialog dialog({kButton, kButton, IDCANCEL});
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.m_log, (std::vector<UINT>{kButton, kButton}));
    EXPECT_EQ(dialog.m_hWnd, nullptr) << "the window is gone once the modal run returns";
}

TEST(ModalDialogTest, PassedOnSystemCommandGetsDefaultProcessing) {
    // SC_CLOSE reaches the handler, which passes it on: the default processing closes the dialog.
    ProbeDialog dialog({WM_SYSCOMMAND});
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.m_log, (std::vector<UINT>{SC_CLOSE}));
}

TEST(ModalDialogTest, PassedOnMessageGetsTheDialogsOwnDefaultProcessing) {
    // A window's default processing knows nothing of a default button; the dialog manager's does.
    ProbeDialog dialog({kAskDefault});
    EXPECT_EQ(dialog.DoModal(), 66);
    EXPECT_EQ(dialog.m_log, (std::vector<UINT>{DM_GETDEFID}));
    EXPECT_EQ(dialog.m_defaultId, MAKELRESULT(kButton, DC_HASDEFID));
}

TEST(ModalDialogTest, NestedDialogIsOwnedByTheMainWindowWhichIsDisabledMeanwhile) {
    ProbeDialog outer({kRunNested});
    g_app.m_pMainWnd = &outer;
    EXPECT_EQ(outer.DoModal(), 55);
    g_app.m_pMainWnd = nullptr;
    EXPECT_EQ(outer.m_owner, nullptr) << "the main window itself has no owner";
    EXPECT_EQ(outer.m_nestedResult, 77);
    EXPECT_NE(outer.m_nestedOwner, nullptr);
    EXPECT_FALSE(outer.m_nestedOwnerEnabled) << "the owner stays disabled while the nested dialog runs";
    EXPECT_TRUE(outer.m_enabledAfterNested);
    // Both open centred: the main window on the work area, the nested one over its owner.
    EXPECT_LE(std::abs(outer.m_outerOffCentre.x), 1);
    EXPECT_LE(std::abs(outer.m_outerOffCentre.y), 1);
    EXPECT_LE(std::abs(outer.m_nestedOffCentre.x), 1);
    EXPECT_LE(std::abs(outer.m_nestedOffCentre.y), 1);
}

// A dialog run with extended styles added, which records what its windows got and what a control
// that draws its text is handed.
class StyledDialog : public CDialog {
public:
    StyledDialog(UINT id, DWORD dialogExStyle, DWORD controlExStyle) : CDialog(id) {
        m_dwAddedExStyle = dialogExStyle;
        m_dwAddedControlExStyle = controlExStyle;
    }

    struct Control {
        int id;
        DWORD exStyle;
        std::wstring text;
        bool drawnRightToLeft;
    };

    BOOL OnInitDialog() override {
        m_exStyle = static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE));
        for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            wchar_t text[16] = {};
            ::GetWindowTextW(child, text, 16);
            HDC dc = ::CreateCompatibleDC(nullptr);
            SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child));
            const bool rightToLeft = (::GetTextAlign(dc) & TA_RTLREADING) != 0;
            ::DeleteDC(dc);
            m_controls.push_back({::GetDlgCtrlID(child), static_cast<DWORD>(::GetWindowLongW(child, GWL_EXSTYLE)),
                                  text, rightToLeft});
        }
        ::PostMessageW(m_hWnd, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }

    DWORD m_exStyle = 0;
    std::vector<Control> m_controls;
};

TEST(ModalDialogTest, AddedExtendedStylesReachTheDialogAndEachControlOfBothTemplateForms) {
    for (UINT id : {2u, 3u}) {
        SCOPED_TRACE(testing::Message() << "template " << id);
        StyledDialog mirrored(id, WS_EX_LAYOUTRTL, WS_EX_RTLREADING);
        ASSERT_EQ(mirrored.DoModal(), IDCANCEL);
        EXPECT_NE(mirrored.m_exStyle & WS_EX_LAYOUTRTL, 0u);
        ASSERT_EQ(mirrored.m_controls.size(), 4u);
        const wchar_t* texts[] = {L"abc", L"Four", L"Radio", L""};
        for (size_t i = 0; i < 4; ++i) {
            const StyledDialog::Control& control = mirrored.m_controls[i];
            EXPECT_EQ(control.id, int(20 + i));
            EXPECT_EQ(control.text, texts[i]) << "the rest of the template is read as written";
            EXPECT_NE(control.exStyle & WS_EX_RTLREADING, 0u) << control.id;
            EXPECT_NE(control.exStyle & WS_EX_LAYOUTRTL, 0u) << control.id << ": mirrored with its dialog";
            EXPECT_TRUE(control.drawnRightToLeft) << control.id;
        }

        StyledDialog plain(id, 0, 0);
        ASSERT_EQ(plain.DoModal(), IDCANCEL);
        EXPECT_EQ(plain.m_exStyle & (WS_EX_LAYOUTRTL | WS_EX_RTLREADING), 0u);
        ASSERT_EQ(plain.m_controls.size(), 4u);
        for (const StyledDialog::Control& control : plain.m_controls) {
            EXPECT_EQ(control.exStyle & (WS_EX_LAYOUTRTL | WS_EX_RTLREADING), 0u) << control.id;
            EXPECT_FALSE(control.drawnRightToLeft) << control.id;
        }
    }
}

}  // namespace
