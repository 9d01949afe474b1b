// The fonts of the build's Wine prefixes: the face that dialogs are drawn with links to the host's Noto and CJK
// fonts, so every text the program shows has real glyphs, not the empty box of a missing one. ctest runs the
// second test once more under locales whose dialog face is not the English one (PELLORAN_FONT_SECTION).
#include "res/resource.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testsupport;

namespace {

// The dialogs' font as the dialog manager asks for it (MS Shell Dlg, 9 points at 96 dpi), and the characters
// of a text that it draws without a glyph of their own: from the face and its links, or from the face alone
// (a line in a script that needs shaping is drawn from the face alone under Wine).
std::wstring Undrawn(const std::wstring& text, bool faceAlone) {
    const HDC dc = ::CreateCompatibleDC(nullptr);
    const HFONT font = ::CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Shell Dlg");
    const HGDIOBJ old = ::SelectObject(dc, font);
    auto glyph = [&](UINT code, UINT flags) {  // its advance and bitmap, as text output draws it
        static const MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
        GLYPHMETRICS metrics{};
        const DWORD size = ::GetGlyphOutlineW(dc, code, GGO_BITMAP | flags, &metrics, 0, nullptr, &kIdentity);
        std::string bits(size == GDI_ERROR ? 0 : size, '\0');
        if (!bits.empty()) ::GetGlyphOutlineW(dc, code, GGO_BITMAP | flags, &metrics, size, &bits[0], &kIdentity);
        return std::to_string(metrics.gmCellIncX) + "x" + std::to_string(metrics.gmBlackBoxY) + ":" + bits;
    };
    const std::string missing = glyph(0, GGO_GLYPH_INDEX);
    std::wstring undrawn;
    for (wchar_t c : text) {
        WORD index = 0;
        if (c <= L' ' || c == 0x200C || c == 0x200D || c == 0xFEFF || undrawn.find(c) != std::wstring::npos) continue;
        if (faceAlone ? ::GetGlyphIndicesW(dc, &c, 1, &index, GGI_MARK_NONEXISTING_GLYPHS) != 1 || index == 0xFFFF
                      : glyph(c, 0) == missing)
            undrawn += c;
    }
    ::DeleteObject(::SelectObject(dc, old));
    ::DeleteDC(dc);
    return undrawn;
}

TEST(FontLink, EveryCharacterOfTheLanguageFileAndOfTheAboutEntryHasAGlyph) {
    const std::string bytes = ReadFileBytes(WinPath(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini"));
    EXPECT_EQ(Undrawn(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2), false), L"");
    const HMODULE exe = ::LoadLibraryExW(WinPath(PELLORAN_EXE_PATH).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    wchar_t entry[64] = {};
    ASSERT_GT(::LoadStringW(exe, IDS_ABOUTBOX, entry, 64), 0);
    ::FreeLibrary(exe);
    EXPECT_EQ(Undrawn(entry, false), L"") << "the about entry's Traditional Chinese under an English locale";
}

TEST(FontLink, EveryCharacterOfTheLocalesSectionIsInTheDialogFace) {
    const std::string name = std::getenv("PELLORAN_FONT_SECTION") ? std::getenv("PELLORAN_FONT_SECTION") : "1";
    const std::wstring section(name.begin(), name.end());
    std::wstring texts(65536, L'\0');  // its entries, "S1=..." to "S15=...", each ended by a null
    texts.resize(::GetPrivateProfileSectionW(section.c_str(), &texts[0], 65536,
                                             WinPath(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini").c_str()));
    ASSERT_FALSE(texts.empty()) << "no section";
    EXPECT_EQ(Undrawn(texts, true), L"");
}

}  // namespace
