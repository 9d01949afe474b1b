// The language file that ships beside the executable, checked in the source tree: every language's
// section with its twelve texts, within their limits, UTF-16LE with CR LF, each in its language's script.
#include "lang/LangFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const int kSections[] = {1,   100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 200, 201, 202,
                         203, 204, 205, 206, 207, 208, 209, 300, 301, 302, 303, 304, 400, 401,
                         402, 403, 404, 405, 500, 501, 502, 503, 504, 600, 617, 618, 619};

std::string Narrow(const std::wstring& text) {  // UTF-8, for failure messages
    std::string out(text.size() * 3, '\0');
    out.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], int(out.size()), nullptr,
                                     nullptr));
    return out;
}

std::wstring Trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

using Keys = std::vector<std::pair<std::wstring, std::wstring>>;  // in the order written

// The file as the program's reader sees it: sections by name, each with its keys.
struct LangFileContents {
    std::string bytes;
    std::wstring text;  // after the byte-order mark, if any
    std::vector<std::wstring> sectionOrder;
    std::map<std::wstring, Keys> sections;
    std::vector<std::string> strayLines;  // neither a section, a key nor a comment
};

LangFileContents Load(const char* path) {
    LangFileContents file;
    std::ifstream in(path, std::ios::binary);
    file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    for (size_t i = file.bytes.compare(0, 2, "\xFF\xFE") == 0 ? 2 : 0; i + 1 < file.bytes.size(); i += 2)
        file.text += wchar_t(BYTE(file.bytes[i]) | BYTE(file.bytes[i + 1]) << 8);
    std::wistringstream lines(file.text);
    size_t number = 0;
    for (std::wstring line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        line = Trim(line);
        const size_t equals = line.find(L'=');
        if (line.empty() || line[0] == L';') continue;
        if (line.front() == L'[' && line.back() == L']') {
            file.sectionOrder.push_back(line.substr(1, line.size() - 2));
            file.sections[file.sectionOrder.back()];
        } else if (!file.sectionOrder.empty() && equals != std::wstring::npos && equals > 0) {
            file.sections[file.sectionOrder.back()].emplace_back(Trim(line.substr(0, equals)),
                                                                 Trim(line.substr(equals + 1)));
        } else {
            file.strayLines.push_back("line " + std::to_string(number) + ": " + Narrow(line.substr(0, 60)));
        }
    }
    return file;
}

enum Script { kLatin, kGreek, kCyrillic, kArabic, kThai, kMalayalam, kHangul, kKana, kHan, kNoScript };

Script ScriptOf(wchar_t c) {
    static const struct { wchar_t first, last; Script script; } kRanges[] = {
        {L'A', L'Z', kLatin}, {L'a', L'z', kLatin}, {0xC0, 0x24F, kLatin}, {0x1E00, 0x1EFF, kLatin},
        {0x370, 0x3FF, kGreek}, {0x1F00, 0x1FFF, kGreek}, {0x400, 0x52F, kCyrillic}, {0x600, 0x6FF, kArabic},
        {0x750, 0x77F, kArabic}, {0xFB50, 0xFDFF, kArabic}, {0xFE70, 0xFEFF, kArabic}, {0xE00, 0xE7F, kThai},
        {0xD00, 0xD7F, kMalayalam}, {0x1100, 0x11FF, kHangul}, {0x3130, 0x318F, kHangul}, {0xAC00, 0xD7AF, kHangul},
        {0x3040, 0x30FF, kKana}, {0xFF66, 0xFF9F, kKana}, {0x3400, 0x4DBF, kHan}, {0x4E00, 0x9FFF, kHan},
        {0xF900, 0xFAFF, kHan}};
    for (const auto& range : kRanges)
        if (c >= range.first && c <= range.last && c != 0xD7 && c != 0xF7) return range.script;  // not the signs 0xD7, 0xF7
    return kNoScript;
}

// The scripts each section is written in (Latin where not named).
std::set<Script> ScriptsOf(int section) {
    static const std::map<int, std::set<Script>> kScripts = {
        {100, {kHan}}, {101, {kHan}}, {102, {kKana, kHan}}, {103, {kHangul, kHan}}, {105, {kThai}},
        {107, {kMalayalam}}, {200, {kCyrillic}}, {205, {kCyrillic}}, {504, {kCyrillic}}, {300, {kGreek}},
        {304, {kCyrillic, kLatin}}, {600, {kArabic}}, {619, {kArabic}}};
    const auto found = kScripts.find(section);
    return found != kScripts.end() ? found->second : std::set<Script>{kLatin};
}

const LangFileContents& Shipped() {
    static const LangFileContents file = Load(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini");
    return file;
}

// The keys of a section; none when the file lacks it (reported by the test of the sections).
const Keys& SectionKeys(int number) {
    static const Keys none;
    const auto found = Shipped().sections.find(std::to_wstring(number));
    return found != Shipped().sections.end() ? found->second : none;
}

}  // namespace

TEST(ShippedLangFile, IsUtf16LittleEndianWithByteOrderMarkAndCrLf) {
    ASSERT_EQ(Shipped().bytes.substr(0, 2), "\xFF\xFE") << "no UTF-16LE byte-order mark, or no file";
    EXPECT_EQ(Shipped().bytes.size() % 2, 0u) << "odd number of bytes";
    const std::wstring& text = Shipped().text;
    for (size_t i = 0; i < text.size() && !::testing::Test::HasFailure(); ++i) {  // one report finds the spot
        const wchar_t c = text[i], next = i + 1 < text.size() ? text[i + 1] : 0;
        const std::string where = " at character " + std::to_string(i + 1);
        if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
            ++i;  // a surrogate pair
            continue;
        }
        EXPECT_FALSE(c >= 0xD800 && c < 0xE000) << "lone surrogate" << where;
        EXPECT_FALSE(c == 0 || c == 0xFEFF || c == 0xFFFE || c == 0xFFFD) << "character " << unsigned(c) << where;
        EXPECT_FALSE(c == L'\r' && next != L'\n') << "CR without LF" << where;
        EXPECT_FALSE(c == L'\n' && (i == 0 || text[i - 1] != L'\r')) << "LF without CR" << where;
    }
}

TEST(ShippedLangFile, HoldsEveryLanguageOnceAndNothingElse) {
    std::set<std::wstring> seen, expected;
    for (const std::wstring& name : Shipped().sectionOrder)
        EXPECT_TRUE(seen.insert(name).second) << "section [" << Narrow(name) << "] appears twice";
    for (int number : kSections) expected.insert(std::to_wstring(number));
    ASSERT_EQ(expected.size(), 41u);
    EXPECT_EQ(seen, expected);
}

TEST(ShippedLangFile, EverySectionHasItsTwelveSingleLineTextsWithinTheirLimits) {
    for (const std::string& stray : Shipped().strayLines)
        ADD_FAILURE() << "a value broken over lines, or stray text: " << stray;
    for (int number : kSections) {
        std::map<std::wstring, std::wstring> values;
        for (const auto& [key, value] : SectionKeys(number)) {
            const std::string where = "[" + std::to_string(number) + "] " + Narrow(key);
            EXPECT_TRUE(values.emplace(key, value).second) << where << " twice";
            EXPECT_EQ(value.find(L"\\n"), std::wstring::npos) << where << " holds \\n";
        }
        for (int k = 1; k <= 12; ++k) {
            const std::wstring key = L"S" + std::to_wstring(k), value = values[key];
            values.erase(key);
            const std::string where = "[" + std::to_string(number) + "] S" + std::to_string(k);
            EXPECT_FALSE(value.empty()) << where << " missing or empty";
            EXPECT_LE(value.size(), k <= 7 ? kParagraphRoom - 1 : kShortTextRoom - 1) << where;
        }
        for (const auto& extra : values) ADD_FAILURE() << "[" << number << "] has " << Narrow(extra.first);  // S0 too
    }
}

// The platform's profile reader, through the program's own lookup, returns every text as written.
TEST(ShippedLangFile, ReaderReturnsEveryTextAsWritten) {
    std::wstring path = L"Z:" PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini";
    std::replace(path.begin(), path.end(), L'/', L'\\');
    for (int number : kSections)
        for (const auto& [key, value] : SectionKeys(number)) {
            const int k = _wtoi(key.c_str() + 1);
            EXPECT_EQ(ReadLangValue(number, k, path, k <= 7 ? kParagraphRoom : kShortTextRoom), value)
                << "[" << number << "] " << Narrow(key);
        }
}

TEST(ShippedLangFile, EverySectionIsInItsLanguagesScript) {
    std::wstring english;
    for (const auto& [key, value] : SectionKeys(1))
        if (key == L"S1") english = value;
    for (int number : kSections) {
        const std::set<Script> own = ScriptsOf(number);
        size_t ownLetters = 0, letters = 0, kana = 0;
        for (const auto& [key, value] : SectionKeys(number)) {
            const std::string where = "[" + std::to_string(number) + "] " + Narrow(key) + ": ";
            bool ownInValue = false;
            for (wchar_t c : value) {
                const Script script = ScriptOf(c);
                if (script == kNoScript) continue;
                ++letters;
                kana += script == kKana;
                if (own.count(script) != 0) {
                    ++ownLetters;
                    ownInValue = true;
                } else {
                    EXPECT_EQ(script, kLatin) << where << "letter U+" << std::hex << unsigned(c) << " of another";
                }
            }
            EXPECT_TRUE(ownInValue) << where << "nothing in the language's script: " << Narrow(value.substr(0, 60));
            if (number != 1 && key == L"S1" && own == std::set<Script>{kLatin}) {
                EXPECT_NE(value, english) << where << "the English text";
            }
        }
        EXPECT_GE(2 * ownLetters, letters) << "[" << number << "] is mostly in another script";
        if (number == 102) {
            EXPECT_GT(kana, 0u) << "[102] has no kana";
        }
    }
}
