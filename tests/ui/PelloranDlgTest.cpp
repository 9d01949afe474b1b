// What Wine lets no other process see of the settings dialog (menus and icons are handles of the process
// that made them): its system menu's about entry and its icons, checked inside the process on the real
// dialog, which runs here without the firmware.
#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include "ui/PelloranDlg.h"

#include <gtest/gtest.h>

namespace {

CWinApp g_app;  // the framework's one application object

// The real dialog, looked at as soon as its initialisation is over.
class InspectedDialog : public CPelloranDlg {
public:
    BOOL OnInitDialog() override {
        CPelloranDlg::OnInitDialog();
        bigIcon = reinterpret_cast<HICON>(SendMessage(WM_GETICON, ICON_BIG));
        smallIcon = reinterpret_cast<HICON>(SendMessage(WM_GETICON, ICON_SMALL));
        dragIcon = reinterpret_cast<HICON>(SendMessage(WM_QUERYDRAGICON));
        HMENU menu = GetSystemMenu(FALSE);
        const int items = ::GetMenuItemCount(menu);
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, items - 1, text, 64, MF_BYPOSITION);
        lastItem = {::GetMenuItemID(menu, items - 1), text};
        separatorBefore = (::GetMenuState(menu, items - 2, MF_BYPOSITION) & MF_SEPARATOR) != 0;
        EndDialog(IDOK);
        return TRUE;
    }

    HICON bigIcon = nullptr, smallIcon = nullptr, dragIcon = nullptr;
    std::pair<UINT, std::wstring> lastItem;
    bool separatorBefore = false;
};

TEST(PelloranDlg, AboutEntryEndsTheSystemMenuAndTheDialogIconIsShownAndDragged) {
    testsupport::SimRun run(testsupport::FreshFolder("ui"));
    run.Scenario("ConnectHr=WBEM_E_ACCESS_DENIED");
    g_app.m_hInstance = ::GetModuleHandleW(nullptr);
    InspectedDialog dialog;
    g_app.m_pMainWnd = &dialog;
    ASSERT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.lastItem, std::make_pair(UINT(IDM_ABOUTBOX), std::wstring(L"\u95DC\u65BC Pelloran(&A)...")));
    EXPECT_TRUE(dialog.separatorBefore);
    const HICON icon = ::LoadIconW(g_app.m_hInstance, MAKEINTRESOURCEW(IDI_PELLORAN));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(dialog.bigIcon, icon);
    EXPECT_EQ(dialog.smallIcon, icon);
    EXPECT_EQ(dialog.dragIcon, icon);
    testsupport::Store({REG_NONE, ""});  // what closing the dialog stored
}

}  // namespace
