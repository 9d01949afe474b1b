// The language number of each language identifier, checked against facts of its own: the sections of the
// shipped language file, the edge cases of the table, and the script a language is written in. Then the
// lookups in a language file, and the shipped file's form.
#include "lang/LangFile.h"
#include "lang/Language.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <set>

using namespace testsupport;

namespace {

const std::wstring kShipped = WinPath(PELLORAN_SOURCE_DIR "/lang/PelloranLang.ini");

// The section names of the shipped file (no section given), or the "key=value" entries of one of its sections.
std::vector<std::wstring> Shipped(const std::wstring& section = L"") {
    std::wstring list(65536, L'\0');
    list.resize(section.empty() ? ::GetPrivateProfileSectionNamesW(&list[0], 65536, kShipped.c_str())
                                : ::GetPrivateProfileSectionW(section.c_str(), &list[0], 65536, kShipped.c_str()));
    std::vector<std::wstring> items;
    for (size_t at = 0; at < list.size(); at = list.find(L'\0', at) + 1) items.push_back(list.c_str() + at);
    return items;
}

TEST(LanguageNumber, EveryNumberHasItsSectionAndEverySectionItsNumber) {
    std::set<std::wstring> numbers;
    for (unsigned id = 0; id <= 0xFFFF; ++id) numbers.insert(std::to_wstring(LanguageNumberFromLangId(LANGID(id))));
    const std::vector<std::wstring> sections = Shipped();
    EXPECT_EQ(numbers, std::set<std::wstring>(sections.begin(), sections.end()));
    EXPECT_EQ(numbers.size(), 41u);
}

// The edge cases of the table, and a few languages of each script with a letter of that script in the section they
// choose (no script given: the rows of English and its neighbours, which fall back to English).
TEST(LanguageNumber, EdgeCasesAndSectionsInTheirLanguagesScript) {
    const struct { LANGID id; int number; wchar_t first, last; } rows[] = {
        {0x0409, 1}, {0x0809, 1}, {0x1404, 1}, {0x1407, 1}, {0x540A, 1}, {0x041A, 1}, {0x241A, 1}, {0x203B, 1}, {0x243B, 1},
        {0x1004, 100, 0x4E00, 0x9FFF}, {0x0814, 403}, {0x0436, 617}, {0x0429, 619, 0x0600, 0x06FF},
        {0x0404, 100, 0x4E00, 0x9FFF}, {0x0804, 101, 0x4E00, 0x9FFF}, {0x0411, 102, 0x3040, 0x30FF},
        {0x0412, 103, 0xAC00, 0xD7AF}, {0x041E, 105, 0x0E00, 0x0E7F}, {0x044C, 107, 0x0D00, 0x0D7F},
        {0x0419, 200, 0x0400, 0x04FF}, {0x0422, 205, 0x0400, 0x04FF}, {0x082C, 504, 0x0400, 0x04FF},
        {0x0408, 300, 0x0370, 0x03FF}, {0x0401, 600, 0x0600, 0x06FF}, {0x4001, 600, 0x0600, 0x06FF},
        {0x040C, 303, L'A', L'z'},     {0x0C0A, 500, L'A', L'z'},     {0x500A, 500, L'A', L'z'},
        {0x0416, 501, L'A', L'z'},     {0x0816, 502, L'A', L'z'},     {0x041C, 618, L'A', L'z'}};
    for (const auto& row : rows) {
        EXPECT_EQ(LanguageNumberFromLangId(row.id), row.number) << std::hex << row.id;
        bool found = row.first == 0;
        for (const std::wstring& entry : Shipped(std::to_wstring(row.number)))
            for (wchar_t c : entry.substr(entry.find(L'=') + 1)) found = found || (c >= row.first && c <= row.last);
        EXPECT_TRUE(found) << "section " << row.number << " is not in its script";
    }
}

TEST(LangFile, TextsOfTheNumberedSectionCutToTheirRoom) {
    const std::wstring file = FreshFolder("lang") + L"\\PelloranLang.ini";
    const std::wstring s255(255, L'a'), s256(256, L'b'), s999(999, L'c'), s1000(1000, L'd');
    WriteFileBytes(file, Utf16File(L"[30]\r\nS9=thirty\r\n[0303]\r\nS9=zero\r\n[303]\r\nS9=" + s255 + L"\r\nS10=" + s256 +
                                   L"\r\nS1=" + s999 + L"\r\nS2=" + s1000 + L"\r\nS0=\u00E9\r\n[1]\r\nS9=One\r\n"));
    EXPECT_EQ(ReadLangValue(303, 9, file, kShortTextRoom), s255);
    EXPECT_EQ(ReadLangValue(303, 10, file, kShortTextRoom), s256.substr(0, 255));
    EXPECT_EQ(ReadLangValue(1, 9, file, kShortTextRoom), L"One");
    EXPECT_EQ(ReadLangValue(303, 11, file, kShortTextRoom), L"") << "a missing key";
    EXPECT_EQ(ReadLangValue(3, 9, file, kShortTextRoom), L"") << "a missing section";
    std::wstring description = L"kept:";
    for (int key : {1, 2, 0}) AppendLangValue(description, 303, key, file);
    EXPECT_EQ(description, L"kept:" + s999 + s1000.substr(0, 999) + L"\r\n\u00E9");
}

// UTF-16 with CR LF, and in each section the fifteen texts in order, each within its room; the description tells the
// user which button to click: S2 names the on button (S9), S3 the off button (S10).
TEST(ShippedLangFile, Utf16WithCrLfAndFifteenTextsInOrderPerSection) {
    const std::string bytes = ReadFileBytes(kShipped);
    ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        EXPECT_TRUE(bytes[i] != '\n' || bytes[i + 1] != 0 || bytes[i - 2] == '\r') << "LF without CR at byte " << i;
    for (const std::wstring& section : Shipped()) {
        int next = 1;  // the keys S1 to S15, in that order
        for (const std::wstring& entry : Shipped(section)) {
            const std::wstring key = entry.substr(0, entry.find(L'=')), value = entry.substr(key.size() + 1);
            const DWORD room = key.size() == 2 && key[1] <= L'7' ? kParagraphRoom : kShortTextRoom;
            EXPECT_TRUE(!value.empty() && value.size() < room) << "[" << section.c_str() << "] " << key.c_str();
            EXPECT_EQ(key, L"S" + std::to_wstring(next++)) << section.c_str();
        }
        EXPECT_EQ(next, 16) << section.c_str();
        auto text = [&](int key) { return ReadLangValue(std::stoi(section), key, kShipped, kParagraphRoom); };
        EXPECT_NE(text(2).find(text(9)), std::wstring::npos) << "[" << section.c_str() << "] S2 does not name S9";
        EXPECT_NE(text(3).find(text(10)), std::wstring::npos) << "[" << section.c_str() << "] S3 does not name S10";
    }
}

// The English message for a change the firmware did not apply, the state shown when it cannot be read and the note
// of a policy: the program carries these built in, for a language file that lacks them, and they must agree.
TEST(ShippedLangFile, EnglishFailureTextsAreTheBuiltInOnes) {
    EXPECT_EQ(ReadLangValue(1, kKeyChangeNotApplied, kShipped, kShortTextRoom), kEnglishChangeNotApplied);
    EXPECT_EQ(ReadLangValue(1, kKeyNotAvailable, kShipped, kShortTextRoom), kEnglishNotAvailable);
    EXPECT_EQ(ReadLangValue(1, kKeyManaged, kShipped, kShortTextRoom), kEnglishManaged);
}

}  // namespace
