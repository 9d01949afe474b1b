// The settings dialog at 150 % and 200 %: every text that a control shows at some time, in every section of the
// language file, fits the control as the control draws it, and no two controls overlap. The real dialog runs in
// this process, made DPI aware by the framework's own call, in a Wine prefix at the DPI that PELLORAN_FIT_DPI
// names, for the sections that PELLORAN_FIT_SECTIONS lists: fit-sections runs this program once per locale, as
// Wine picks the dialog's face by locale.
#include "lang/LangFile.h"
#include "tests/support/TestSupport.h"
#include "ui/PelloranDlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

CWinApp g_app;  // the framework's one application object

// A user32 function of Windows 10 (1607 and later; Wine 8 has them), looked up by name: the headers declare them
// only for programs that need Windows 10.
template <typename Fn>
Fn User32(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}
using GetThreadContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)();
using SetThreadContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
using GetAwarenessFn = DPI_AWARENESS(WINAPI*)(DPI_AWARENESS_CONTEXT);
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

int Environment(const char* name, int fallback) { return std::getenv(name) ? std::atoi(std::getenv(name)) : fallback; }

// How a control lays out its text.
enum class Drawn { Label, PushButton, RadioButton };

// Each control with a text of the language file, and the keys of every text it shows at some time.
struct ControlTexts {
    int id;
    Drawn drawn;
    std::vector<int> keys;
};
const ControlTexts kControls[] = {
    {IDC_STATUS_LABEL, Drawn::Label, {kKeyStatusLabel}},
    {IDC_STATUS_TEXT, Drawn::Label, {kKeyOnText, kKeyOffText, 14}},  // on, off, and 14: "Not available"
    {IDC_ENABLE, Drawn::PushButton, {kKeyOnText}},
    {IDC_DISABLE, Drawn::PushButton, {kKeyOffText}},
    {IDC_ADAPTER_MODE, Drawn::RadioButton, {kKeyAdapterMode}},
    {IDC_ADAPTER_BATTERY_MODE, Drawn::RadioButton, {kKeyAdapterBatteryMode}},
};

// One dimension of one text in its control: what the text needs and what the control leaves it, in pixels.
struct Fit {
    int key;
    int control;
    bool across;  // the width, or else the height
    int needed;
    int room;
    int Margin() const { return room - needed; }
};

// The process starts DPI-unaware, as on Windows (the prefix says so), and is DPI aware after the framework's
// call, made as the program makes it: before the first window. Under Wine 8 the call makes it system aware, but
// Wine 8 then creates its windows as unaware ones, unscaled (their sizes shrunk to 96 dpi, their fonts not),
// which neither Wine nor Windows shows a system-aware program as: stating the same awareness once more for this
// thread makes Wine lay the dialog out as Windows does. Windows needs no such statement.
struct Awareness {
    bool unawareAtStart;
    bool awareAfterCall;
    DPI_AWARENESS awareness;
};
const Awareness& MadeDpiAware() {
    static const Awareness made = [] {
        Awareness result{::IsProcessDPIAware() == FALSE, false, DPI_AWARENESS_INVALID};
        AfxEnableDpiAwareness();
        result.awareAfterCall = ::IsProcessDPIAware() != FALSE;
        const DPI_AWARENESS_CONTEXT context = User32<GetThreadContextFn>("GetThreadDpiAwarenessContext")();
        result.awareness = User32<GetAwarenessFn>("GetAwarenessFromDpiAwarenessContext")(context);
        User32<SetThreadContextFn>("SetThreadDpiAwarenessContext")(context);
        return result;
    }();
    return made;
}

// A device context of a control with the control's own font selected, as the control draws its text.
class ControlFont {
public:
    explicit ControlFont(HWND control)
        : m_control(control), m_dc(::GetDC(control)),
          m_old(::SelectObject(m_dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)))) {}
    ~ControlFont() {
        ::SelectObject(m_dc, m_old);
        ::ReleaseDC(m_control, m_dc);
    }
    ControlFont(const ControlFont&) = delete;
    ControlFont& operator=(const ControlFont&) = delete;

    // The width and height of a text on one line, as DrawText lays it out.
    SIZE Extent(const std::wstring& text, UINT format) const {
        RECT bounds{};
        ::DrawTextW(m_dc, text.c_str(), -1, &bounds, format | DT_SINGLELINE | DT_CALCRECT);
        return {bounds.right - bounds.left, bounds.bottom - bounds.top};
    }
    // The advance of the digit 0.
    int DigitWidth() const {
        INT width = 0;
        ::GetCharWidth32W(m_dc, L'0', L'0', &width);
        return width;
    }

private:
    HWND m_control;
    HDC m_dc;
    HGDIOBJ m_old;
};

// What the text the control shows needs of it, across and down, and the room the control leaves it. A label
// draws its text from its left edge, on one line (a second line would fall below it). A push button draws its
// text centred inside its frame: the default button's outline and the 2-pixel edge, 3 pixels a side at 96 dpi
// (a themed Windows button keeps about as much for its own edge), scaled with the DPI. A radio button draws its
// circle (12 pixels and one at 96 dpi under Wine, 13 in Windows' theme, scaled with the DPI), half a digit's
// width of gap, then its text, with one pixel of focus rectangle beyond it.
std::vector<Fit> Measure(HWND control, Drawn drawn, int key, UINT dpi) {
    wchar_t shown[kShortTextRoom] = {};
    ::GetWindowTextW(control, shown, kShortTextRoom);
    const ControlFont font(control);
    const bool noPrefix = drawn == Drawn::Label && (::GetWindowLongW(control, GWL_STYLE) & SS_NOPREFIX) != 0;
    const SIZE text = font.Extent(shown, DT_EXPANDTABS | (noPrefix ? DT_NOPREFIX : 0));
    RECT client;
    ::GetClientRect(control, &client);
    int roomAcross = client.right, roomDown = client.bottom;
    if (drawn == Drawn::PushButton) {
        const int frame = ::MulDiv(3, dpi, 96);
        roomAcross -= 2 * frame;
        roomDown -= 2 * frame;
    } else if (drawn == Drawn::RadioButton) {
        const int circle = std::max<int>(12 * dpi / 96 + 1, ::MulDiv(13, dpi, 96));
        roomAcross -= circle + font.DigitWidth() / 2 + 1;
    }
    const int id = ::GetDlgCtrlID(control);
    return {{key, id, true, text.cx, roomAcross}, {key, id, false, text.cy, roomDown}};
}

// The rectangle of a window in screen coordinates, left to right whatever its layout (Windows swaps the sides of
// a rectangle mapped from a mirrored window itself).
RECT ScreenRect(HWND window, bool clientArea) {
    RECT rect;
    if (!clientArea) {
        ::GetWindowRect(window, &rect);
    } else {
        ::GetClientRect(window, &rect);
        ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    }
    if (rect.left > rect.right) std::swap(rect.left, rect.right);
    return rect;
}

// The real dialog, each text of one section set on its control and measured, as soon as its initialisation is
// over (the firmware's state does not matter: the texts are set here).
class MeasuredDialog : public CPelloranDlg {
public:
    explicit MeasuredDialog(int section) : m_section(section) {}

    BOOL OnInitDialog() override {
        const BOOL result = CPelloranDlg::OnInitDialog();
        dpi = User32<GetDpiForWindowFn>("GetDpiForWindow")(m_hWnd);
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)), sizeof(font), &font);
        fontHeight = font.lfHeight;
        const std::wstring path = GetModuleDir() + kLangFileName;
        for (const ControlTexts& control : kControls) {
            for (int key : control.keys) {
                const std::wstring text = ReadLangValue(m_section, key, path, kShortTextRoom);
                if (text.empty()) continue;  // a key the section lacks shows nothing
                SetDlgItemText(control.id, text.c_str());
                for (const Fit& fit : Measure(GetDlgItem(control.id), control.drawn, key, dpi)) fits.push_back(fit);
            }
        }
        const RECT client = ScreenRect(m_hWnd, true);
        for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            const int id = ::GetDlgCtrlID(child);
            const RECT rect = ScreenRect(child, false);
            RECT common;
            if (!::IntersectRect(&common, &rect, &client) || !::EqualRect(&common, &rect)) outsideClient.push_back(id);
            for (const auto& other : placed)
                if (::IntersectRect(&common, &rect, &other.second)) overlaps.emplace_back(other.first, id);
            placed.emplace_back(id, rect);
        }
        EndDialog(IDOK);
        return result;
    }

    UINT dpi = 0;
    LONG fontHeight = 0;
    std::vector<Fit> fits;
    std::vector<std::pair<int, RECT>> placed;      // each control and its rectangle
    std::vector<std::pair<int, int>> overlaps;     // pairs of controls whose rectangles meet
    std::vector<int> outsideClient;                // controls that reach past the dialog's client area

private:
    int m_section;
};

std::vector<int> SectionsToMeasure() {
    std::vector<int> sections;
    std::istringstream list(std::getenv("PELLORAN_FIT_SECTIONS") ? std::getenv("PELLORAN_FIT_SECTIONS") : "1");
    for (int section; list >> section;) sections.push_back(section);
    return sections;
}

const char* NameOf(int control) {
    for (const ControlTexts& texts : kControls)
        if (texts.id == control)
            return texts.drawn == Drawn::Label ? "label" : texts.drawn == Drawn::PushButton ? "push button" : "radio button";
    return "control";
}

class DialogFit : public ::testing::TestWithParam<int> {};

TEST_P(DialogFit, EveryTextFitsItsControlAndNoControlsOverlap) {
    const int section = GetParam();
    const UINT expectedDpi = static_cast<UINT>(Environment("PELLORAN_FIT_DPI", 96));
    const Awareness& made = MadeDpiAware();
    ASSERT_TRUE(made.unawareAtStart) << "the prefix lets Wine make the process DPI aware before the program could";
    ASSERT_TRUE(made.awareAfterCall) << "the framework's call left the process DPI-unaware";

    g_app.m_hInstance = ::GetModuleHandleW(nullptr);
    MeasuredDialog dialog(section);
    g_app.m_pMainWnd = &dialog;
    ASSERT_EQ(dialog.DoModal(), IDOK);
    ASSERT_EQ(dialog.dpi, expectedDpi) << "the dialog is not laid out at the prefix's DPI";
    EXPECT_EQ(dialog.fontHeight, -::MulDiv(9, expectedDpi, 72)) << "MS Shell Dlg 9 pt at " << expectedDpi << " dpi";
    ASSERT_FALSE(dialog.fits.empty()) << "section " << section << " has none of the texts";

    for (const Fit& fit : dialog.fits)
        if (fit.Margin() < 0)
            ADD_FAILURE() << "section " << section << ", S" << fit.key << " in control " << fit.control << " ("
                          << NameOf(fit.control) << "): " << -fit.Margin() << " px short in " << (fit.across ? "width" : "height")
                          << " (needs " << fit.needed << ", has " << fit.room << ")";
    for (const auto& pair : dialog.overlaps)
        ADD_FAILURE() << "controls " << pair.first << " and " << pair.second << " overlap";
    for (int control : dialog.outsideClient) ADD_FAILURE() << "control " << control << " reaches past the dialog";
    EXPECT_EQ(dialog.placed.size(), 7u) << "the dialog's controls";

    // The tightest margin across and down: a label is as tall as a line of its font, so down it is often 0.
    auto tightest = [&](bool across) {
        const Fit* least = nullptr;
        for (const Fit& fit : dialog.fits)
            if (fit.across == across && (least == nullptr || fit.Margin() < least->Margin())) least = &fit;
        return *least;
    };
    const Fit across = tightest(true), down = tightest(false);
    const char* awareness = made.awareness == DPI_AWARENESS_SYSTEM_AWARE        ? "system aware"
                            : made.awareness == DPI_AWARENESS_PER_MONITOR_AWARE ? "per-monitor aware"
                                                                                : "unaware";
    std::printf("section %d at %u dpi: tightest margin %d px across (S%d in %d), %d px down (S%d in %d); process %s\n",
                section, dialog.dpi, across.Margin(), across.key, across.control, down.Margin(), down.key, down.control,
                awareness);
    if (std::getenv("PELLORAN_FIT_VERBOSE"))
        for (const Fit& fit : dialog.fits)
            std::printf("  S%d in %d %s: needs %d, has %d\n", fit.key, fit.control, fit.across ? "width" : "height",
                        fit.needed, fit.room);
    std::fflush(stdout);
}

INSTANTIATE_TEST_SUITE_P(Sections, DialogFit, ::testing::ValuesIn(SectionsToMeasure()),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

}  // namespace
