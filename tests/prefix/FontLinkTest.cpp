// The fonts of the build's Wine prefix: the face that dialogs are drawn with links to the host's
// Noto and CJK fonts, so every text the program shows, in every language, has real glyphs and not
// the empty box of a missing one.
#include "res/resource.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// The dialogs' font as the dialog manager asks for it: MS Shell Dlg, 9 points at 96 dpi.
class DialogFont {
public:
    DialogFont()
        : m_dc(::CreateCompatibleDC(nullptr)),
          m_font(::CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Shell Dlg")),
          m_old(::SelectObject(m_dc, m_font)),
          m_missing(Glyph(0, GGO_GLYPH_INDEX)) {}
    ~DialogFont() {
        ::SelectObject(m_dc, m_old);
        ::DeleteObject(m_font);
        ::DeleteDC(m_dc);
    }
    DialogFont(const DialogFont&) = delete;
    DialogFont& operator=(const DialogFont&) = delete;

    // True when the character is drawn with a glyph of its own, from the face or a linked one.
    bool Draws(wchar_t c) const { return Glyph(c, 0) != m_missing; }
    // True when the face itself has the character. A line in a script that needs shaping (Thai,
    // Malayalam, Arabic) is drawn from the face alone under Wine, linked faces unused.
    bool HasInFace(wchar_t c) const {
        WORD index = 0;
        return ::GetGlyphIndicesW(m_dc, &c, 1, &index, GGI_MARK_NONEXISTING_GLYPHS) == 1 && index != 0xFFFF;
    }

private:
    // The glyph's advance and bitmap, as text output draws it.
    std::string Glyph(UINT code, UINT flags) const {
        static const MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
        GLYPHMETRICS metrics{};
        const DWORD size = ::GetGlyphOutlineW(m_dc, code, GGO_BITMAP | flags, &metrics, 0, nullptr, &kIdentity);
        std::string bits(size == GDI_ERROR ? 0 : size, '\0');
        if (!bits.empty()) ::GetGlyphOutlineW(m_dc, code, GGO_BITMAP | flags, &metrics, size, &bits[0], &kIdentity);
        return std::to_string(metrics.gmCellIncX) + "x" + std::to_string(metrics.gmBlackBoxY) + ":" + bits;
    }

    HDC m_dc;
    HFONT m_font;
    HGDIOBJ m_old;
    std::string m_missing;
};

// Every character of a text that needs a glyph of its own (not white space or a joiner).
std::set<wchar_t> Drawable(const std::wstring& text) {
    std::set<wchar_t> characters;
    for (wchar_t c : text)
        if (c > L' ' && c != 0x200C && c != 0x200D && c != 0xFEFF) characters.insert(c);
    return characters;
}

TEST(FontLinkTest, EveryCharacterOfTheLanguageFileHasAGlyph) {
    const std::string bytes = testsupport::ReadFileBytes(testsupport::WinPath(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini"));
    ASSERT_GT(bytes.size(), 2u);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    const DialogFont font;
    std::wstring missing;
    for (wchar_t c : Drawable(text))
        if (!font.Draws(c)) missing += c;
    EXPECT_EQ(missing, L"") << "characters drawn as empty boxes";
}

// The section of the locale the test runs under (PELLORAN_FONT_SECTION; 1, English, by default) is
// drawn from the dialog face alone.
TEST(FontLinkTest, EveryCharacterOfTheLocalesSectionIsInTheDialogFace) {
    wchar_t section[16] = L"1";
    ::GetEnvironmentVariableW(L"PELLORAN_FONT_SECTION", section, 16);
    const std::wstring path = testsupport::WinPath(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini");
    std::wstring texts;
    for (int key = 1; key <= 12; ++key) {
        wchar_t value[1000] = {};
        ::GetPrivateProfileStringW(section, (L"S" + std::to_wstring(key)).c_str(), L"", value, 1000, path.c_str());
        texts += value;
    }
    ASSERT_FALSE(texts.empty()) << "no section " << section;
    const DialogFont font;
    std::wstring missing;
    for (wchar_t c : Drawable(texts))
        if (!font.HasInFace(c)) missing += c;
    EXPECT_EQ(missing, L"") << "characters of section " << section << " the face lacks";
}

TEST(FontLinkTest, TheAboutEntrysTraditionalChineseHasGlyphsUnderAnEnglishLocale) {
    HMODULE exe = ::LoadLibraryExW(testsupport::ToolPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    wchar_t entry[64] = {};
    const int length = ::LoadStringW(exe, IDS_ABOUTBOX, entry, 64);
    ::FreeLibrary(exe);
    ASSERT_GT(length, 0);
    const DialogFont font;
    for (wchar_t c : Drawable(entry)) EXPECT_TRUE(font.Draws(c)) << "U+" << std::hex << unsigned(c);
}

}  // namespace
