// What Wine lets no other process see of the settings dialog (menus and icons are handles of the process
// that made them): its system menu's about entry and its icons, checked inside the process on the real
// dialog, which runs here without the firmware.
#include "res/resource.h"
#include "tests/support/Files.h"
#include "tests/support/SimRun.h"
#include "tests/support/StoredMode.h"
#include "ui/PelloranDlg.h"

#include <gtest/gtest.h>
#include <objbase.h>

namespace {

CWinApp g_app;  // the framework's one application object

// The real dialog, looked at as soon as its initialisation is over.
class InspectedDialog : public CPelloranDlg {
public:
    BOOL OnInitDialog() override {
        CPelloranDlg::OnInitDialog();
        icons = {SendMessage(WM_GETICON, ICON_BIG), SendMessage(WM_GETICON, ICON_SMALL), SendMessage(WM_QUERYDRAGICON)};
        HMENU menu = GetSystemMenu(FALSE);
        const int items = ::GetMenuItemCount(menu);
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, items - 1, text, 64, MF_BYPOSITION);
        lastItem = {::GetMenuItemID(menu, items - 1), text};
        separatorBefore = (::GetMenuState(menu, items - 2, MF_BYPOSITION) & MF_SEPARATOR) != 0;
        EndDialog(IDOK);
        return TRUE;
    }

    std::vector<LRESULT> icons;  // the big and small window icons, and the drag icon
    std::pair<UINT, std::wstring> lastItem;
    bool separatorBefore = false;
};

TEST(PelloranDlg, AboutEntryEndsTheSystemMenuAndTheDialogIconIsShownAndDragged) {
    testsupport::SimRun run(testsupport::FreshFolder("ui"));
    run.Scenario("Answers.ConnectServer=WBEM_E_ACCESS_DENIED");
    g_app.m_hInstance = ::GetModuleHandleW(nullptr);
    InspectedDialog dialog;
    g_app.m_pMainWnd = &dialog;
    ASSERT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.lastItem, std::make_pair(UINT(IDM_ABOUTBOX), std::wstring(L"\u95DC\u65BC Pelloran(&A)...")));
    EXPECT_TRUE(dialog.separatorBefore);
    const LRESULT icon = reinterpret_cast<LRESULT>(::LoadIconW(g_app.m_hInstance, MAKEINTRESOURCEW(IDI_PELLORAN)));
    EXPECT_TRUE(icon != 0 && dialog.icons == std::vector<LRESULT>(3, icon)) << "the big, small and drag icons";
    testsupport::Store({REG_NONE, ""});  // what closing the dialog stored
}

// The dialog ends COM on its thread exactly when it joined COM itself: a thread that something else had made
// single-threaded stays so after the dialog, and one that had not joined is left as it was found.
TEST(PelloranDlg, LeavesCOMOnlyWhenItJoinedItItself) {
    testsupport::SimRun run(testsupport::FreshFolder("ui-com"));
    run.Scenario("StatusWord=0x10001");
    g_app.m_hInstance = ::GetModuleHandleW(nullptr);
    for (const bool joinedBefore : {true, false}) {
        SCOPED_TRACE(joinedBefore ? "joined before" : "not joined");
        if (joinedBefore) {
            ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        }
        InspectedDialog dialog;
        g_app.m_pMainWnd = &dialog;
        ASSERT_EQ(dialog.DoModal(), IDOK);
        APTTYPE type;
        APTTYPEQUALIFIER qualifier;
        if (joinedBefore) {
            EXPECT_EQ(::CoGetApartmentType(&type, &qualifier), S_OK);
            EXPECT_EQ(type, APTTYPE_MAINSTA) << "still the single-threaded apartment it was";
            ::CoUninitialize();
        }
        EXPECT_EQ(::CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED) << "COM left as it was found";
    }
    EXPECT_EQ(testsupport::ProxyCallsWithoutBlanket(run.Log()), "");
    testsupport::Store({REG_NONE, ""});
}

// SetThreadDpiAwarenessContext, which the headers declare only for newer Windows than the program's.
DPI_AWARENESS_CONTEXT SetThreadAwareness(DPI_AWARENESS_CONTEXT awareness) {
    using SetFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto set = reinterpret_cast<SetFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    return set != nullptr ? set(awareness) : nullptr;
}

// A dialog that meets a monitor of another scaling, as Windows tells it with WM_DPICHANGED.
class MovedDialog : public CPelloranDlg {
public:
    BOOL OnInitDialog() override {
        CPelloranDlg::OnInitDialog();
        const auto fontHeight = [this] {
            LOGFONTW font = {};
            ::GetObjectW(reinterpret_cast<HFONT>(::SendDlgItemMessageW(m_hWnd, IDC_ENABLE, WM_GETFONT, 0, 0)), sizeof(font), &font);
            return font.lfHeight;
        };
        RECT button;
        ::GetWindowRect(::GetDlgItem(m_hWnd, IDC_ENABLE), &button);
        before = {button.right - button.left, fontHeight()};
        SendMessage(WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
        ::GetWindowRect(m_hWnd, &window);
        ::GetWindowRect(::GetDlgItem(m_hWnd, IDC_ENABLE), &button);
        after = {button.right - button.left, fontHeight()};
        EndDialog(IDOK);
        return TRUE;
    }

    RECT suggested = {100, 50, 1100, 950}, window = {};
    std::pair<LONG, LONG> before, after;  // the Enable button's width and font height
};

// Where Windows leaves a change of scaling to the window (per-monitor v1), the dialog takes the suggested rectangle
// and scales its controls and their font; under any other awareness it leaves the message to Windows.
TEST(PelloranDlg, FollowsAChangeOfScalingOnlyWhereWindowsLeavesItToTheWindow) {
    testsupport::SimRun run(testsupport::FreshFolder("ui-dpi"));
    run.Scenario("Answers.ConnectServer=WBEM_E_ACCESS_DENIED");
    g_app.m_hInstance = ::GetModuleHandleW(nullptr);
    for (const DPI_AWARENESS_CONTEXT awareness : {DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE, DPI_AWARENESS_CONTEXT_UNAWARE}) {
        const bool perMonitorV1 = awareness == DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE;
        SCOPED_TRACE(perMonitorV1 ? "per-monitor v1" : "unaware");
        const DPI_AWARENESS_CONTEXT was = SetThreadAwareness(awareness);
        ASSERT_NE(was, nullptr);
        MovedDialog dialog;
        g_app.m_pMainWnd = &dialog;
        ASSERT_EQ(dialog.DoModal(), IDOK);
        SetThreadAwareness(was);
        EXPECT_EQ(::EqualRect(&dialog.window, &dialog.suggested) != FALSE, perMonitorV1);
        if (perMonitorV1) {
            EXPECT_NEAR(dialog.after.first, 2 * dialog.before.first, 2) << "the controls at twice the scale";
            EXPECT_EQ(dialog.after.second, 2 * dialog.before.second) << "and their font";
        } else {
            EXPECT_EQ(dialog.after, dialog.before);
        }
    }
    // The warning that a change was not applied reads from right to left, at the right, where the dialog does.
    EXPECT_EQ(WarningStyle(true), UINT(MB_OK | MB_ICONWARNING | MB_RTLREADING | MB_RIGHT));
    EXPECT_EQ(WarningStyle(false), UINT(MB_OK | MB_ICONWARNING));
    testsupport::Store({REG_NONE, ""});
}

}  // namespace
