// Text lookups in language files that the tests write themselves, in UTF-16 and in the ANSI code page.
#include "lang/LangFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::wstring kSevenEmptyLines = L"\r\n\r\n\r\n\r\n\r\n\r\n\r\n";  // the description from nothing

// A temporary folder per test, removed with everything in it afterwards.
class LangFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("pelloran-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        ASSERT_TRUE(fs::create_directories(dir_));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::wstring Path(const wchar_t* name = L"PelloranLang.ini") const { return (dir_ / name).wstring(); }
    std::wstring WriteBytes(const std::string& bytes, const wchar_t* name = L"PelloranLang.ini") {
        std::ofstream(dir_ / name, std::ios::binary | std::ios::trunc) << bytes;
        return Path(name);
    }
    // Writes the text as UTF-16LE with a byte-order mark, the form the program ships.
    std::wstring WriteUtf16(const std::wstring& text) {
        return WriteBytes("\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    }

    static std::wstring Short(int language, int key, const std::wstring& path) {
        return ReadLangValue(language, key, path, kShortTextRoom);
    }
    static std::wstring Paragraph(int language, int key, const std::wstring& path, std::wstring before = L"") {
        AppendLangValue(before, language, key, path);
        return before;
    }
    static std::wstring Description(int language, const std::wstring& path) {
        std::wstring description;
        for (int key : kDescriptionKeys) AppendLangValue(description, language, key, path);
        return description;
    }

    fs::path dir_;
};

}  // namespace

TEST_F(LangFileTest, SectionIsNamedByTheLanguageNumberInDecimal) {
    const std::wstring path = WriteUtf16(
        L"[30]\r\nS9=thirty\r\n[0303]\r\nS9=zero-three\r\n[3030]\r\nS9=three-thousand\r\n"
        L"[303]\r\nS9=Activ\u00E9\r\nS10=D\u00E9sactiv\u00E9\r\n[10]\r\nS9=ten\r\n"
        L"[1]\r\nS9=On\r\nS10=Off\r\n[102]\r\nS9=\u6709\u52B9\u306B\u3059\u308B\r\n");
    EXPECT_EQ(Short(303, 9, path), L"Activ\u00E9");
    EXPECT_EQ(Short(303, 10, path), L"D\u00E9sactiv\u00E9");
    EXPECT_EQ(Short(1, 9, path), L"On");
    EXPECT_EQ(Short(1, 10, path), L"Off");
    EXPECT_EQ(Short(102, 9, path), L"\u6709\u52B9\u306B\u3059\u308B");
    EXPECT_EQ(Short(3, 9, path), L"");

    const std::wstring ansi = WriteBytes("[303]\r\nS9=Activer\r\n[1]\r\nS9=On\r\nS1=First paragraph.\r\n", L"ansi.ini");
    EXPECT_EQ(Short(303, 9, ansi), L"Activer");
    EXPECT_EQ(Short(1, 9, ansi), L"On");
    EXPECT_EQ(Paragraph(1, 1, ansi), L"First paragraph.");
}

TEST_F(LangFileTest, DescriptionHasSevenParagraphsAndPutsS0AfterEveryLineBreak) {
    const std::wstring section = L"[7]\r\nS1=one\r\nS2=two\r\nS3=three\r\nS4=four\r\nS5=five\r\nS6=six\r\nS7=seven\r\n";
    EXPECT_EQ(Description(7, WriteUtf16(section)), L"one\r\ntwo\r\nthree\r\n\r\nfour\r\nfive\r\nsix\r\nseven");
    EXPECT_EQ(Description(7, WriteUtf16(section + L"S0=x\r\n")),
              L"one\r\nxtwo\r\nxthree\r\nx\r\nxfour\r\nxfive\r\nxsix\r\nxseven");
}

TEST_F(LangFileTest, ValuesAreCutToTheirRoom) {
    const std::wstring s255 = std::wstring(254, L'a') + L'Z', s256 = std::wstring(255, L'b') + L'Z';
    const std::wstring s999 = std::wstring(998, L'c') + L'Z', s1000 = std::wstring(999, L'd') + L'Z';
    const std::wstring path =
        WriteUtf16(L"[1]\r\nS9=" + s255 + L"\r\nS10=" + s256 + L"\r\nS1=" + s999 + L"\r\nS2=" + s1000 + L"\r\n");
    EXPECT_EQ(Short(1, 9, path), s255);
    EXPECT_EQ(Short(1, 10, path), s256.substr(0, 255));
    EXPECT_EQ(Paragraph(1, 1, path, L"kept:"), L"kept:" + s999);
    EXPECT_EQ(Paragraph(1, 2, path), s1000.substr(0, 999));
}

TEST_F(LangFileTest, EmptyValueOrMissingFileSectionOrKeyGivesEmptyTexts) {
    const std::wstring path = WriteUtf16(L"[1]\r\nS9=\r\nS0=\r\nS1=\r\nS10=Off\r\n");
    EXPECT_EQ(Short(1, 9, path), L"");
    EXPECT_EQ(Short(1, 10, path), L"Off");
    EXPECT_EQ(Short(1, 11, path), L"");
    EXPECT_EQ(Short(303, 10, path), L"") << "no fall-back to section 1";
    EXPECT_EQ(Description(1, path), kSevenEmptyLines);

    const std::wstring missing = Path(L"NoSuchFile.ini");
    for (int key = 8; key <= 12; ++key) EXPECT_EQ(Short(1, key, missing), L"") << "S" << key;
    EXPECT_EQ(Description(1, missing), kSevenEmptyLines);
}

TEST_F(LangFileTest, ChangeToTheFileIsSeenByTheNextLookup) {
    const std::wstring path = WriteUtf16(L"[1]\r\nS9=On\r\n");
    EXPECT_EQ(Short(1, 9, path), L"On");
    WriteUtf16(L"[1]\r\nS9=Switched on\r\n");
    EXPECT_EQ(Short(1, 9, path), L"Switched on");
    WriteUtf16(L"[1]\r\nS9=No\r\n");  // same size as the first
    EXPECT_EQ(Short(1, 9, path), L"No");
    ASSERT_TRUE(fs::remove(path));
    EXPECT_EQ(Short(1, 9, path), L"");
}

// A program started from a bare file name looks for "\PelloranLang.ini": the root of the current drive.
TEST_F(LangFileTest, PathWithoutBackslashReadsTheFileAtTheDriveRoot) {
    EXPECT_EQ(DirectoryOfPath(L"C:\\Program Files\\Pelloran\\Pelloran.exe"), L"C:\\Program Files\\Pelloran");
    const fs::path root = dir_.root_path() / "PelloranLang.ini";
    if (fs::exists(root)) GTEST_SKIP() << root.string() << " belongs to someone else";
    std::ofstream(root, std::ios::binary) << "[1]\r\nS9=At the root\r\n";
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    const std::wstring text = Short(1, 9, DirectoryOfPath(L"Pelloran.exe") + kLangFileName);
    fs::current_path(before);
    fs::remove(root);
    EXPECT_EQ(text, L"At the root");
}

// Whatever lies at the path, a lookup returns a text within its room and never crashes.
TEST_F(LangFileTest, BadFilesNeverCrashALookup) {
    std::mt19937 random(4);
    std::string noise(1 << 16, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    for (const std::wstring& path : {WriteBytes(noise), WriteBytes("\xFF\xFE" + noise, L"bom.ini")}) {
        for (int key = 0; key <= 12; ++key) EXPECT_LE(Short(1, key, path).size(), 255u);
        EXPECT_GE(Description(1, path).size(), 14u);
    }

    std::wstring text = L"[1]\r\nS9=On\r\n";  // ten megabytes, read to their end
    while (text.size() * 2 < 10 * 1024 * 1024) text += L"; " + std::wstring(96, L'-') + L"\r\n";
    std::wstring path = WriteUtf16(text + L"[303]\r\nS9=Activer\r\n");
    EXPECT_EQ(Short(1, 9, path), L"On");
    EXPECT_EQ(Short(303, 9, path), L"Activer");

    std::wstring line(100000, L'w');  // a line of 100,000 characters, cut
    for (size_t i = 0; i < line.size(); i += 7) line[i] = L'\u0416';
    path = WriteUtf16(L"[1]\r\nS9=" + line + L"\r\nS1=" + line + L"\r\n" + line + L"\r\nS10=Off\r\n");
    EXPECT_EQ(Short(1, 9, path), line.substr(0, 255));
    EXPECT_EQ(Paragraph(1, 1, path), line.substr(0, 999));
    EXPECT_EQ(Short(1, 10, path), L"Off") << "keys after a long line must still be found";

    ASSERT_TRUE(fs::remove(path));  // a directory in place of the file
    ASSERT_TRUE(fs::create_directory(path));
    EXPECT_EQ(Short(1, 9, path), L"");
    EXPECT_EQ(Description(1, path), kSevenEmptyLines);
}
