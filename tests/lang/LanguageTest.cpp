// The language number chosen for each 16-bit language identifier.
#include "lang/Language.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

std::string Hex(LANGID id) {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%04X", id);
    return text;
}

// Every one of the 65536 identifiers against the languages we ship, written out again here on their own so
// that a slip in the program's table (or in this one) shows up as a disagreement: the listed ones give their
// number, all others 1, so that no primary language is ever matched on its own and no stray identifier
// slipped into the table. Spanish and Arabic are generated from their rule.
TEST(LanguageNumber, EveryListedIdentifierGivesItsNumberAndEveryOtherOne) {
    const std::vector<std::pair<int, std::vector<LANGID>>> rows = {
        {100, {0x0404, 0x0C04, 0x1004}}, {101, {0x0804}}, {102, {0x0411}}, {103, {0x0412}},
        {104, {0x043E, 0x083E}}, {105, {0x041E}}, {106, {0x041F}}, {107, {0x044C}}, {108, {0x0421}},
        {109, {0x042A}}, {200, {0x0419}}, {201, {0x0405}}, {202, {0x0418}}, {203, {0x041B}},
        {204, {0x0424}}, {205, {0x0422}}, {206, {0x040E}}, {207, {0x0426}}, {208, {0x0427}},
        {209, {0x0415}}, {300, {0x0408}}, {301, {0x0410, 0x0810}}, {302, {0x0407, 0x0807, 0x0C07, 0x1007}},
        {303, {0x040C, 0x080C, 0x0C0C, 0x100C, 0x140C, 0x180C}}, {304, {0x0C1A, 0x1C1A, 0x081A, 0x181A}},
        {400, {0x043B, 0x083B, 0x0C3B, 0x103B, 0x143B, 0x183B, 0x1C3B}}, {401, {0x0413, 0x0813}},
        {402, {0x041D, 0x081D}}, {403, {0x0414, 0x0814}}, {404, {0x040B}}, {405, {0x0406}},
        {501, {0x0416}}, {502, {0x0816}}, {503, {0x042C}}, {504, {0x082C}},
        {617, {0x0436}}, {618, {0x041C}}, {619, {0x0429}},
    };
    std::map<LANGID, int> expected;
    for (const auto& row : rows)
        for (LANGID id : row.second) expected.emplace(id, row.first);
    for (WORD sub = 1; sub <= 20; ++sub) expected.emplace(MAKELANGID(LANG_SPANISH, sub), 500);
    for (WORD sub = 1; sub <= 16; ++sub) expected.emplace(MAKELANGID(LANG_ARABIC, sub), 600);
    ASSERT_EQ(expected.size(), 98u) << "an identifier stands twice in the list";

    std::string wrong;  // one report, however many identifiers disagree
    for (unsigned value = 0; value <= 0xFFFF; ++value) {
        const LANGID id = static_cast<LANGID>(value);
        const auto found = expected.find(id);
        const int want = found != expected.end() ? found->second : 1, got = LanguageNumberFromLangId(id);
        if (got != want) wrong += Hex(id) + " gives " + std::to_string(got) + "; ";
    }
    EXPECT_EQ(wrong, "");
}

TEST(LanguageNumber, NeighboursOfListedIdentifiersGiveOne) {
    for (LANGID id : {0x1404, 0x1407, 0x540A, 0x041A, 0x241A, 0x203B, 0x243B, 0x0409, 0x0809})
        EXPECT_EQ(LanguageNumberFromLangId(id), 1) << Hex(id);
}

}  // namespace
