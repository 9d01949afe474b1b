// The settings dialog at 100 %, 150 % and 200 %: every text that a control shows at some time, in every section of the
// language file, fits the control as the control draws it, and no two controls overlap. The real dialog runs in
// this process, made DPI aware by the framework's own call, in a Wine prefix at the DPI that PELLORAN_FIT_DPI
// names, for the sections that PELLORAN_FIT_SECTIONS lists: fit-sections runs this program once per locale, as
// Wine picks the dialog's face by locale.
#include "lang/LangFile.h"
#include "res/resource.h"
#include "ui/PelloranDlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <sstream>

namespace {

CWinApp g_app;  // the framework's one application object

// How a control lays out its text.
enum Drawn { kLabel, kPushButton, kRadioButton, kParagraph };

// Each control with a text of the language file, and the keys of every text it shows at some time.
struct ControlTexts {
    int id;
    Drawn drawn;
    std::vector<int> keys;
};
const ControlTexts kControls[] = {
    {IDC_STATUS_LABEL, kLabel, {kKeyStatusLabel}},
    {IDC_STATUS_TEXT, kLabel, {kKeyOnText, kKeyOffText, kKeyNotAvailable}},
    {IDC_ENABLE, kPushButton, {kKeyOnText}},
    {IDC_DISABLE, kPushButton, {kKeyOffText}},
    {IDC_ADAPTER_MODE, kRadioButton, {kKeyAdapterMode}},
    {IDC_ADAPTER_BATTERY_MODE, kRadioButton, {kKeyAdapterBatteryMode}},
    {IDC_DESCRIPTION, kParagraph, {kKeyManaged}},
};

// That the text a control shows fits it, across and down: what it needs of the control against the room the control
// leaves it, in pixels, measured in the control's own font. A label draws its text from its left edge, on one line
// (a second line would fall below it). A push button draws its text centred inside its frame: the default button's
// outline and the 2-pixel edge, 3 pixels a side at 96 dpi (a themed Windows button keeps about as much for its own
// edge), scaled with the DPI. A radio button draws its circle (12 pixels and one at 96 dpi under Wine, 13 in
// Windows' theme, scaled with the DPI), a gap of half a digit's width, then its text, with a pixel of focus rectangle
// beyond it. A paragraph of the description (the note of a policy, its first) is wrapped by the edit control itself:
// it must take two lines at most, as high as the font's, and show whole in the control's formatting rectangle, so
// that the description's own first lines stay in view below it.
void ExpectFits(const ControlTexts& control, HWND window, int key, int dpi) {
    const std::string what = "S" + std::to_string(key) + " in control " + std::to_string(control.id);
    wchar_t shown[kShortTextRoom] = {};
    ::GetWindowTextW(window, shown, kShortTextRoom);
    const HDC dc = ::GetDC(window);
    const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)));
    const bool noPrefix = control.drawn == kLabel && (::GetWindowLongW(window, GWL_STYLE) & SS_NOPREFIX) != 0;
    RECT text{}, client, format{};
    ::DrawTextW(dc, shown, -1, &text, DT_SINGLELINE | DT_EXPANDTABS | DT_CALCRECT | (noPrefix ? DT_NOPREFIX : 0));
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    INT digit = 0;
    ::GetCharWidth32W(dc, L'0', L'0', &digit);
    ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
    if (control.drawn == kParagraph) {
        ::SendMessageW(window, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
        const int lines = int(::SendMessageW(window, EM_GETLINECOUNT, 0, 0));
        EXPECT_LE(lines * metrics.tmHeight, std::min<int>(2 * metrics.tmHeight, format.bottom - format.top)) << what << ": too high";
        return;
    }
    ::GetClientRect(window, &client);
    const int frame = control.drawn == kPushButton ? ::MulDiv(3, dpi, 96) : 0;
    const int circle = control.drawn == kRadioButton ? std::max(12 * dpi / 96 + 1, ::MulDiv(13, dpi, 96)) + digit / 2 + 1 : 0;
    EXPECT_LE(text.right, client.right - 2 * frame - circle) << what << ": too wide";
    EXPECT_LE(text.bottom, client.bottom - 2 * frame) << what << ": too high";
}

// The real dialog, as soon as its initialisation is over: its font at the prefix's DPI, each text of one section set
// on its control and measured (the firmware's state does not matter: the texts are set here), and no two controls
// that overlap.
class MeasuredDialog : public CPelloranDlg {
public:
    MeasuredDialog(int section, int dpi) : m_section(section), m_dpi(dpi) {}

    BOOL OnInitDialog() override {
        const BOOL result = CPelloranDlg::OnInitDialog();
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)), sizeof(font), &font);
        EXPECT_EQ(font.lfHeight, -::MulDiv(9, m_dpi, 72)) << "the dialog's font is not MS Shell Dlg 9 pt at the prefix's DPI";
        for (const ControlTexts& control : kControls) {
            for (int key : control.keys) {
                const std::wstring text = ReadLangValue(m_section, key, GetModuleDir() + kLangFileName, kShortTextRoom);
                if (text.empty()) continue;  // a key the section lacks shows nothing
                SetDlgItemText(control.id, text.c_str());
                ExpectFits(control, GetDlgItem(control.id), key, m_dpi);
                ++measured;
            }
        }
        std::vector<RECT> placed;
        for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            RECT rect, common;
            ::GetWindowRect(child, &rect);
            for (const RECT& other : placed) EXPECT_FALSE(::IntersectRect(&common, &rect, &other)) << "controls that overlap";
            placed.push_back(rect);
        }
        EndDialog(IDOK);
        return result;
    }

    int measured = 0;  // texts

private:
    const int m_section, m_dpi;
};

// The process starts DPI-unaware, as on Windows (the prefix says so), and is DPI aware after the framework's call,
// made as the program makes it: before the first window.
const bool kUnawareAtStart = !::IsProcessDPIAware();
const bool kAwareAfterCall = [] { AfxEnableDpiAwareness(); return ::IsProcessDPIAware() != FALSE; }();

std::vector<int> SectionsToMeasure() {
    std::istringstream list(std::getenv("PELLORAN_FIT_SECTIONS") ? std::getenv("PELLORAN_FIT_SECTIONS") : "1");
    return std::vector<int>(std::istream_iterator<int>(list), std::istream_iterator<int>());
}

class DialogFit : public ::testing::TestWithParam<int> {};

TEST_P(DialogFit, EveryTextFitsItsControlAndNoControlsOverlap) {
    const int section = GetParam();
    const int dpi = std::getenv("PELLORAN_FIT_DPI") ? std::atoi(std::getenv("PELLORAN_FIT_DPI")) : 96;
    ASSERT_TRUE(kUnawareAtStart) << "the prefix lets Wine make the process DPI aware before the program could";
    ASSERT_TRUE(kAwareAfterCall) << "the framework's call left the process DPI-unaware";

    g_app.m_hInstance = ::GetModuleHandleW(nullptr);
    MeasuredDialog dialog(section, dpi);
    g_app.m_pMainWnd = &dialog;
    ASSERT_EQ(dialog.DoModal(), IDOK);
    EXPECT_GT(dialog.measured, 0) << "section " << section << " has none of the texts";
}

INSTANTIATE_TEST_SUITE_P(Sections, DialogFit, ::testing::ValuesIn(SectionsToMeasure()),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

}  // namespace
