// The language file that ships beside the executable, checked in the source tree: every language's
// section with its twelve texts, within their limits, UTF-16LE with CR LF, each in its language's script.
#include "lang/LangFile.h"
#include "lang/Language.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const std::vector<int> kSections = {1,   100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 200, 201, 202,
                                    203, 204, 205, 206, 207, 208, 209, 300, 301, 302, 303, 304, 400, 401,
                                    402, 403, 404, 405, 500, 501, 502, 503, 504, 600, 617, 618, 619};

std::string Narrow(const std::wstring& text) {  // UTF-8, for failure messages
    std::string out(text.size() * 3, '\0');
    out.resize(::WideCharToMultiByte(CP_UTF8, 0 /* no flags */, text.data(), int(text.size()), &out[0],
                                     int(out.size()), nullptr, nullptr));
    return out;
}

std::wstring Trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// The file as the program's readers see it: sections by name, keys in the order written.
struct LangFileContents {
    std::string bytes;
    std::wstring text;  // after the byte-order mark, if any
    std::vector<std::wstring> lines;
    std::map<std::wstring, std::vector<std::pair<std::wstring, std::wstring>>> sections;
    std::vector<std::wstring> sectionOrder;
    std::vector<std::string> strayLines;  // neither a section, a key nor a comment
};

LangFileContents Load(const std::string& path) {
    LangFileContents file;
    std::ifstream in(path, std::ios::binary);
    file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const size_t start = file.bytes.compare(0, 2, "\xFF\xFE") == 0 ? 2 : 0;
    for (size_t i = start; i + 1 < file.bytes.size(); i += 2)
        file.text += wchar_t(BYTE(file.bytes[i]) | BYTE(file.bytes[i + 1]) << 8);
    std::wstring line;
    for (wchar_t c : file.text + L"\n") {
        if (c != L'\n') { line += c; continue; }
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        file.lines.push_back(line);
        line.clear();
    }
    bool inSection = false;
    for (size_t n = 0; n < file.lines.size(); ++n) {
        const std::wstring trimmed = Trim(file.lines[n]);
        const size_t equals = trimmed.find(L'=');
        if (trimmed.empty() || trimmed[0] == L';') continue;
        if (trimmed.front() == L'[' && trimmed.back() == L']') {
            file.sectionOrder.push_back(trimmed.substr(1, trimmed.size() - 2));
            file.sections[file.sectionOrder.back()];
            inSection = true;
        } else if (inSection && equals != std::wstring::npos && equals > 0) {
            file.sections[file.sectionOrder.back()].emplace_back(Trim(trimmed.substr(0, equals)),
                                                                 Trim(trimmed.substr(equals + 1)));
        } else {
            file.strayLines.push_back("line " + std::to_string(n + 1) + ": " + Narrow(trimmed.substr(0, 60)));
        }
    }
    return file;
}

enum Script { kLatin, kGreek, kCyrillic, kArabic, kThai, kMalayalam, kHangul, kKana, kHan, kNoScript };

Script ScriptOf(wchar_t c) {
    if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) ||
        (c >= 0x1E00 && c <= 0x1EFF))
        return kLatin;
    if ((c >= 0x370 && c <= 0x3FF) || (c >= 0x1F00 && c <= 0x1FFF)) return kGreek;
    if (c >= 0x400 && c <= 0x52F) return kCyrillic;
    if ((c >= 0x600 && c <= 0x6FF) || (c >= 0x750 && c <= 0x77F) || (c >= 0xFB50 && c <= 0xFDFF) ||
        (c >= 0xFE70 && c <= 0xFEFF))
        return kArabic;
    if (c >= 0xE00 && c <= 0xE7F) return kThai;
    if (c >= 0xD00 && c <= 0xD7F) return kMalayalam;
    if ((c >= 0x1100 && c <= 0x11FF) || (c >= 0x3130 && c <= 0x318F) || (c >= 0xAC00 && c <= 0xD7AF)) return kHangul;
    if ((c >= 0x3040 && c <= 0x30FF) || (c >= 0xFF66 && c <= 0xFF9F)) return kKana;
    if ((c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF)) return kHan;
    return kNoScript;
}

// The script each section is written in (Latin where not named), and for Japanese the kana it must show.
std::set<Script> ScriptsOf(int section) {
    switch (section) {
    case 100: case 101: return {kHan};
    case 102: return {kKana, kHan};
    case 103: return {kHangul, kHan};
    case 105: return {kThai};
    case 107: return {kMalayalam};
    case 200: case 205: case 504: return {kCyrillic};
    case 300: return {kGreek};
    case 304: return {kCyrillic, kLatin};
    case 600: case 619: return {kArabic};
    default: return {kLatin};
    }
}

std::string WinePath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class ShippedLangFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        unixPath_ = PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini";
        file_ = Load(unixPath_);
    }
    void SetUp() override { ASSERT_GT(file_.bytes.size(), 2u) << unixPath_ << " is missing or empty"; }

    static const std::vector<std::pair<std::wstring, std::wstring>>* Section(int number) {
        const auto found = file_.sections.find(std::to_wstring(number));
        return found != file_.sections.end() ? &found->second : nullptr;
    }

    static std::wstring Value(int number, const wchar_t* key) {
        if (const auto* keys = Section(number))
            for (const auto& entry : *keys)
                if (entry.first == key) return entry.second;
        return std::wstring();
    }

    static inline std::string unixPath_;
    static inline LangFileContents file_;
};

}  // namespace

TEST_F(ShippedLangFile, IsUtf16LittleEndianWithByteOrderMarkAndCrLf) {
    ASSERT_EQ(file_.bytes.substr(0, 2), "\xFF\xFE") << "no UTF-16LE byte-order mark";
    EXPECT_EQ(file_.bytes.size() % 2, 0u) << "odd number of bytes";
    const std::wstring& text = file_.text;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const std::string where = "at character " + std::to_string(i + 1);
        if (c >= 0xD800 && c < 0xDC00) {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
                << "lone surrogate " << where;
            ++i;
        } else {
            EXPECT_FALSE(c >= 0xDC00 && c < 0xE000) << "lone surrogate " << where;
            EXPECT_FALSE(c == 0 || c == 0xFEFF || c == 0xFFFE || c == 0xFFFD)
                << "character " << unsigned(c) << " " << where;
            EXPECT_FALSE(c == L'\r' && (i + 1 == text.size() || text[i + 1] != L'\n')) << "CR without LF " << where;
            EXPECT_FALSE(c == L'\n' && (i == 0 || text[i - 1] != L'\r')) << "LF without CR " << where;
        }
        if (HasFailure()) break;  // one report is enough to find the spot
    }
}

TEST_F(ShippedLangFile, HoldsEveryLanguageOnceAndNothingElse) {
    std::set<std::wstring> seen;
    for (const std::wstring& name : file_.sectionOrder)
        EXPECT_TRUE(seen.insert(name).second) << "section [" << Narrow(name) << "] appears twice";
    std::set<std::wstring> expected;
    for (int number : kSections) expected.insert(std::to_wstring(number));
    ASSERT_EQ(expected.size(), 41u);
    for (const std::wstring& name : expected)
        EXPECT_TRUE(seen.count(name) == 1) << "no section [" << Narrow(name) << "]";
    for (const std::wstring& name : seen)
        EXPECT_TRUE(expected.count(name) == 1) << "unused section [" << Narrow(name) << "]";

    // Every number the program can choose has its section.
    std::set<int> chosen;
    for (unsigned id = 0; id <= 0xFFFF; ++id) chosen.insert(LanguageNumberFromLangId(LANGID(id)));
    for (int number : chosen) EXPECT_TRUE(Section(number) != nullptr) << "language number " << number;
}

TEST_F(ShippedLangFile, EverySectionHasItsTwelveSingleLineTextsWithinTheirLimits) {
    for (const std::string& stray : file_.strayLines)
        ADD_FAILURE() << "a value broken over lines, or stray text: " << stray;
    for (int number : kSections) {
        const auto* keys = Section(number);
        if (keys == nullptr) continue;  // reported above
        std::map<std::wstring, std::wstring> values;
        for (const auto& [key, value] : *keys) {
            std::wstring upper = key;
            std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
            EXPECT_TRUE(values.emplace(upper, value).second) << "[" << number << "] " << Narrow(key) << " twice";
            EXPECT_EQ(value.find_first_of(L"\x0B\x0C\x85\x2028\x2029"), std::wstring::npos)
                << "[" << number << "] " << Narrow(key) << " holds a line break";
            EXPECT_EQ(value.find(L"\\n"), std::wstring::npos) << "[" << number << "] " << Narrow(key) << " holds \\n";
        }
        EXPECT_EQ(values.count(L"S0"), 0u) << "[" << number << "] has S0";
        for (int k = 1; k <= 12; ++k) {
            const std::wstring key = L"S" + std::to_wstring(k);
            const auto found = values.find(key);
            const size_t limit = k <= 7 ? kParagraphRoom - 1 : kShortTextRoom - 1;
            if (found == values.end() || found->second.empty()) {
                ADD_FAILURE() << "[" << number << "] S" << k << " missing or empty";
            } else {
                EXPECT_LE(found->second.size(), limit) << "[" << number << "] S" << k;
            }
            values.erase(key);
        }
        values.erase(L"S0");
        for (const auto& extra : values) ADD_FAILURE() << "[" << number << "] unknown key " << Narrow(extra.first);
    }
}

// The platform's profile reader, through the program's own lookup, returns every text whole.
TEST_F(ShippedLangFile, ReaderReturnsEveryTextAsWritten) {
    const std::string path = WinePath(unixPath_);
    const std::wstring widePath(path.begin(), path.end());
    wchar_t names[4096] = {};
    const DWORD length = ::GetPrivateProfileSectionNamesW(names, 4096, widePath.c_str());
    std::vector<std::wstring> read;
    for (const wchar_t* name = names; name < names + length && *name != 0; name += wcslen(name) + 1)
        read.push_back(name);
    std::vector<std::wstring> unique = file_.sectionOrder;
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    EXPECT_EQ(read, unique) << "the reader sees other sections than the file holds";

    for (int number : kSections) {
        const auto* keys = Section(number);
        if (keys == nullptr) continue;
        for (const auto& [key, value] : *keys) {
            if (key.size() < 2 || (key[0] != L'S' && key[0] != L's')) continue;
            const int k = _wtoi(key.c_str() + 1);
            const DWORD room = k >= 1 && k <= 7 ? kParagraphRoom : kShortTextRoom;
            EXPECT_EQ(ReadLangValue(number, k, widePath, room), value.substr(0, room - 1))
                << "[" << number << "] " << Narrow(key);
        }
    }
}

TEST_F(ShippedLangFile, EverySectionIsInItsLanguagesScript) {
    for (int number : kSections) {
        const auto* keys = Section(number);
        if (keys == nullptr) continue;
        const std::set<Script> own = ScriptsOf(number);
        const bool latinOnly = own == std::set<Script>{kLatin};
        size_t ownLetters = 0, letters = 0, kana = 0;
        for (const auto& [key, value] : *keys) {
            const std::string where = "[" + std::to_string(number) + "] " + Narrow(key) + ": ";
            bool ownInValue = false;
            std::wstring word;  // Latin, Greek and Cyrillic look alike: a word never mixes them
            std::set<Script> wordScripts;
            for (wchar_t c : value + L" ") {
                const Script script = ScriptOf(c);
                if (script == kNoScript) {
                    EXPECT_LE(wordScripts.size(), 1u) << where << "look-alike letters of two scripts: " << Narrow(word);
                    word.clear();
                    wordScripts.clear();
                    continue;
                }
                word += c;
                if (script == kLatin || script == kGreek || script == kCyrillic) wordScripts.insert(script);
                ++letters;
                kana += script == kKana;
                if (own.count(script) != 0) {
                    ++ownLetters;
                    ownInValue = true;
                } else {
                    EXPECT_EQ(script, kLatin)
                        << where << "letter U+" << std::hex << unsigned(c) << " of another script";
                }
            }
            EXPECT_TRUE(ownInValue) << where << "nothing in the language's script: " << Narrow(value.substr(0, 60));
        }
        EXPECT_GE(2 * ownLetters, letters) << "[" << number << "] is mostly in another script";
        if (number == 102) {
            EXPECT_GT(kana, 0u) << "[102] has no kana";
        }
        if (latinOnly && number != 1) {
            EXPECT_NE(Value(number, L"S1"), Value(1, L"S1")) << "[" << number << "] S1 is the English text";
        }
    }
}
