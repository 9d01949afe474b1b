// The dialog's texts in the language of the user's locale, from the language file beside the program.
// ctest runs the first test once per locale it has compiled for Wine (LANG, LOCPATH), naming in
// PELLORAN_E2E_SECTION the section the locale must select; without it the locale is English.
#include "tests/e2e/E2eFixture.h"

namespace e2e {
namespace {

using testsupport::StateOf;

std::wstring ExpectedSection() {
    wchar_t section[16] = {};
    return ::GetEnvironmentVariableW(L"PELLORAN_E2E_SECTION", section, 16) > 0 ? section : L"1";
}

class LanguageTest : public E2eTest {};

TEST_F(LanguageTest, EveryTextComesFromTheLocalesSection) {
    const std::wstring section = ExpectedSection();
    SCOPED_TRACE(testing::Message() << "section " << section.c_str());
    ASSERT_FALSE(ShippedText(section.c_str(), 9).empty()) << "the shipped file lacks the section";
    FirmwareState(0x10001);
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(testsupport::TextOf(dialog), L"Pelloran") << "the caption is never translated";
    EXPECT_EQ(StateOf(dialog, kStatusLabel).text, ShippedText(section.c_str(), 8));
    EXPECT_EQ(StateOf(dialog, kEnable).text, ShippedText(section.c_str(), 9));
    EXPECT_EQ(StateOf(dialog, kStatusText).text, ShippedText(section.c_str(), 9));
    EXPECT_EQ(StateOf(dialog, kDisable).text, ShippedText(section.c_str(), 10));
    EXPECT_EQ(StateOf(dialog, kAdapter).text, ShippedText(section.c_str(), 11));
    EXPECT_EQ(StateOf(dialog, kAdapterBattery).text, ShippedText(section.c_str(), 12));

    std::wstring description;
    for (int key = 1; key <= 7; ++key) {
        if (key > 1) description += L"\r\n";
        if (key == 4) description += L"\r\n";  // an empty line between the third and fourth paragraphs
        description += ShippedText(section.c_str(), key);
    }
    EXPECT_EQ(StateOf(dialog, kDescription).text, description);

    testsupport::Click(dialog, kDisable);
    EXPECT_EQ(StateOf(dialog, kStatusText).text, ShippedText(section.c_str(), 10));
}

TEST_F(LanguageTest, WithoutALanguageFileEveryTextIsEmpty) {
    UseOwnCopy("");
    FirmwareState(0x10001);
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    for (int id : {kStatusLabel, kStatusText, kEnable, kDisable, kAdapter, kAdapterBattery})
        EXPECT_EQ(StateOf(dialog, id).text, L"") << "control " << id;
    EXPECT_EQ(StateOf(dialog, kDescription).text, L"\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
    // The firmware part works all the same.
    EXPECT_EQ(ControlValuesSent(), std::vector<int>{1});
    testsupport::Click(dialog, kDisable);
    EXPECT_EQ(ControlValuesSent(), (std::vector<int>{1, 0}));
    EXPECT_EQ(StateOf(dialog, kStatusText).text, L"");
}

TEST_F(LanguageTest, SectionWithS0PutsItAfterEveryLineBreak) {
    const std::wstring text = L"\xFEFF[1]\r\nS0=~\r\nS1=a\r\nS2=b\r\nS3=c\r\nS4=d\r\nS5=e\r\nS6=f\r\nS7=g\r\n";
    UseOwnCopy(std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
    Scenario({L"ConnectHr=E_FAIL"});
    Start();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(StateOf(dialog, kDescription).text, L"a\r\n~b\r\n~c\r\n~\r\n~d\r\n~e\r\n~f\r\n~g");
}

}  // namespace
}  // namespace e2e
