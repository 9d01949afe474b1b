// What Wine lets no other process see of the settings dialog (menus and icons are handles of the process that made
// them, the apartment and the DPI awareness belong to its thread), checked inside the process on the real dialog:
// its system menu's about entry, its icons, the apartment it leaves its thread in, and how it follows a change of
// scaling.
#include "res/resource.h"
#include "tests/support/Files.h"
#include "tests/support/SimRun.h"
#include "tests/support/StoredMode.h"
#include "ui/PelloranDlg.h"

#include <gtest/gtest.h>
#include <objbase.h>

namespace {

CWinApp g_app;  // the framework's one application object

// The Enable button's width and font height.
std::pair<LONG, LONG> EnableButton(HWND dialog) {
    LOGFONTW font = {};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendDlgItemMessageW(dialog, IDC_ENABLE, WM_GETFONT, 0, 0)), sizeof(font), &font);
    RECT button;
    ::GetWindowRect(::GetDlgItem(dialog, IDC_ENABLE), &button);
    return {button.right - button.left, font.lfHeight};
}

// The real dialog, looked at as soon as its initialisation is over, then told that it met a monitor of twice the
// scaling, as Windows tells it with WM_DPICHANGED.
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
        before = EnableButton(m_hWnd);
        SendMessage(WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
        ::GetWindowRect(m_hWnd, &window);
        after = EnableButton(m_hWnd);
        EndDialog(IDOK);
        return TRUE;
    }

    std::vector<LRESULT> icons;  // the big and small window icons, and the drag icon
    std::pair<UINT, std::wstring> lastItem;
    bool separatorBefore = false;
    RECT suggested = {100, 50, 1100, 950}, window = {};
    std::pair<LONG, LONG> before, after;  // the Enable button's width and font height
};

// Two runs. The first on a thread that something else made single-threaded before (an input method may): the dialog
// leaves it so, and ends COM only where it joined COM itself; and per-monitor v1 aware, where Windows leaves a change
// of scaling to the window: the dialog takes the suggested rectangle and scales its controls and their font. The
// second on a thread without COM, left so, and unaware, where the dialog leaves the change to Windows.
TEST(PelloranDlg, AboutEntryIconsApartmentAndChangeOfScaling) {
    testsupport::SimRun run(testsupport::FreshFolder("ui"));
    run.Scenario("StatusWord=0x10001");
    g_app.m_hInstance = ::GetModuleHandleW(nullptr);
    const LRESULT icon = reinterpret_cast<LRESULT>(::LoadIconW(g_app.m_hInstance, MAKEINTRESOURCEW(IDI_PELLORAN)));
    // SetThreadDpiAwarenessContext, which the headers declare only for newer Windows than the program's.
    const auto setAwareness = reinterpret_cast<DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT)>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    ASSERT_NE(setAwareness, nullptr);
    for (const bool first : {true, false}) {
        SCOPED_TRACE(first ? "single-threaded before, per-monitor v1" : "no COM before, unaware");
        if (first) {
            ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        }
        const DPI_AWARENESS_CONTEXT was =
            setAwareness(first ? DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE : DPI_AWARENESS_CONTEXT_UNAWARE);
        InspectedDialog dialog;
        g_app.m_pMainWnd = &dialog;
        ASSERT_EQ(dialog.DoModal(), IDOK);
        setAwareness(was);
        EXPECT_EQ(dialog.lastItem, std::make_pair(UINT(IDM_ABOUTBOX), AfxLoadString(IDS_ABOUTBOX)));
        EXPECT_TRUE(dialog.separatorBefore);
        EXPECT_TRUE(icon != 0 && dialog.icons == std::vector<LRESULT>(3, icon)) << "the big, small and drag icons";
        APTTYPE type;
        APTTYPEQUALIFIER qualifier;
        if (first) {
            EXPECT_EQ(::CoGetApartmentType(&type, &qualifier), S_OK);
            EXPECT_EQ(type, APTTYPE_MAINSTA) << "still the single-threaded apartment it was";
            ::CoUninitialize();
        }
        EXPECT_EQ(::CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED) << "COM left as it was found";
        EXPECT_EQ(::EqualRect(&dialog.window, &dialog.suggested) != FALSE, first);
        if (first) {
            EXPECT_NEAR(dialog.after.first, 2 * dialog.before.first, 2) << "the controls at twice the scale";
            EXPECT_EQ(dialog.after.second, 2 * dialog.before.second) << "and their font";
        } else {
            EXPECT_EQ(dialog.after, dialog.before);
        }
    }
    EXPECT_EQ(testsupport::ProxyCallsWithoutBlanket(run.Log()), "");
    // The warning that a change was not applied reads from right to left, at the right, where the dialog does.
    EXPECT_EQ(WarningStyle(true), UINT(MB_OK | MB_ICONWARNING | MB_RTLREADING | MB_RIGHT));
    testsupport::Store({REG_NONE, ""});  // what closing the dialog stored
}

}  // namespace
