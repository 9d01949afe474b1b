// The table from the user's language identifier to the language number of the language file.
#include "lang/Language.h"

#include <initializer_list>

namespace {

struct LanguageRow {
    int number;
    std::initializer_list<LANGID> ids;
};

// One row per language number, in the order they are compared. Whole 16-bit identifiers:
// the primary language alone never decides.
constexpr LanguageRow kLanguageRows[] = {
    {100, {0x0404, 0x0C04, 0x1004}},                        // Chinese (Taiwan, Hong Kong, Singapore)
    {101, {0x0804}},                                        // Chinese (PRC)
    {102, {0x0411}},                                        // Japanese
    {103, {0x0412}},                                        // Korean
    {104, {0x043E, 0x083E}},                                // Malay (Malaysia, Brunei)
    {105, {0x041E}},                                        // Thai
    {106, {0x041F}},                                        // Turkish
    {107, {0x044C}},                                        // Malayalam
    {108, {0x0421}},                                        // Indonesian
    {109, {0x042A}},                                        // Vietnamese
    {200, {0x0419}},                                        // Russian
    {201, {0x0405}},                                        // Czech
    {202, {0x0418}},                                        // Romanian
    {203, {0x041B}},                                        // Slovak
    {204, {0x0424}},                                        // Slovenian
    {205, {0x0422}},                                        // Ukrainian
    {206, {0x040E}},                                        // Hungarian
    {207, {0x0426}},                                        // Latvian
    {208, {0x0427}},                                        // Lithuanian
    {209, {0x0415}},                                        // Polish
    {300, {0x0408}},                                        // Greek
    {301, {0x0410, 0x0810}},                                // Italian (Italy, Switzerland)
    {302, {0x0407, 0x0807, 0x0C07, 0x1007}},                // German (DE, CH, AT, LU)
    {303, {0x040C, 0x080C, 0x0C0C, 0x100C, 0x140C, 0x180C}},  // French (FR, BE, CA, CH, LU, MC)
    {304, {0x0C1A, 0x1C1A, 0x081A, 0x181A}},                // Serbian (Cyrillic and Latin)
    {400, {0x043B, 0x083B, 0x0C3B, 0x103B, 0x143B, 0x183B, 0x1C3B}},  // Northern, Lule, Southern Sami
    {401, {0x0413, 0x0813}},                                // Dutch (Netherlands, Belgium)
    {402, {0x041D, 0x081D}},                                // Swedish (Sweden, Finland)
    {403, {0x0414, 0x0814}},                                // Norwegian (Bokmål, Nynorsk)
    {404, {0x040B}},                                        // Finnish
    {405, {0x0406}},                                        // Danish
    {500, {0x040A, 0x080A, 0x0C0A, 0x100A, 0x140A, 0x180A, 0x1C0A, 0x200A, 0x240A, 0x280A,
           0x2C0A, 0x300A, 0x340A, 0x380A, 0x3C0A, 0x400A, 0x440A, 0x480A, 0x4C0A, 0x500A}},  // Spanish
    {501, {0x0416}},                                        // Portuguese (Brazil)
    {502, {0x0816}},                                        // Portuguese (Portugal)
    {503, {0x042C}},                                        // Azeri (Latin)
    {504, {0x082C}},                                        // Azeri (Cyrillic)
    {600, {0x0401, 0x0801, 0x0C01, 0x1001, 0x1401, 0x1801, 0x1C01, 0x2001,
           0x2401, 0x2801, 0x2C01, 0x3001, 0x3401, 0x3801, 0x3C01, 0x4001}},  // Arabic
    {617, {0x0436}},                                        // Afrikaans
    {618, {0x041C}},                                        // Albanian
    {619, {0x0429}},                                        // Persian
};

constexpr int kOtherLanguages = 1;  // English and every language not in the table

}  // namespace

int LanguageNumberFromLangId(LANGID langId) {
    for (const LanguageRow& row : kLanguageRows)
        for (LANGID id : row.ids)
            if (id == langId) return row.number;
    return kOtherLanguages;
}

bool IsRightToLeftLanguage(int languageNumber) { return languageNumber == 600 || languageNumber == 619; }
