// The resources of the built Pelloran.exe, read back from the executable loaded as a data file.
#include "res/resource.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr LANGID kTraditionalChinese = 0x0404;
constexpr LANGID kSimplifiedChinese = 0x0804;
constexpr LANGID kEnglishUs = 0x0409;

// A reader over the bytes of one resource.
class Reader {
public:
    Reader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}

    template <typename T>
    T Read() {
        T value{};
        if (m_pos + sizeof(T) <= m_size) std::memcpy(&value, m_data + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }
    std::wstring ReadString() {
        std::wstring text;
        for (wchar_t c; (c = Read<wchar_t>()) != L'\0' && m_pos <= m_size;) text += c;
        return text;
    }
    // A name or an ordinal: 0 for none, 0xFFFF plus a number, or a string.
    std::wstring ReadNameOrOrdinal() {
        const WORD first = Read<WORD>();
        if (first == 0x0000) return L"";
        if (first == 0xFFFF) return L"#" + std::to_wstring(Read<WORD>());
        m_pos -= sizeof(WORD);
        return ReadString();
    }
    void AlignTo(size_t n) { m_pos = (m_pos + n - 1) / n * n; }
    size_t pos() const { return m_pos; }
    bool Overrun() const { return m_pos > m_size; }

private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

struct Control {
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring windowClass, text;
    WORD extraBytes;
};

struct DialogTemplate {
    WORD version, signature;
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    std::wstring menu, windowClass, caption;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring typeface;
    std::vector<Control> controls;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<LANGID>*>(param)->push_back(language);
    return TRUE;
}

class ResourcesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_module = ::LoadLibraryExW(s_exe.path.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() {
        if (s_module != nullptr) ::FreeLibrary(s_module);
    }
    void SetUp() override { ASSERT_NE(s_module, nullptr) << "Pelloran.exe could not be loaded as data"; }
    static bool Is64() { return s_exe.flavour == "x64"; }

    // The bytes of a resource in exactly that language; empty when there is none.
    static std::vector<BYTE> Resource(LPCWSTR type, LPCWSTR name, LANGID language) {
        HRSRC info = ::FindResourceExW(s_module, type, name, language);
        if (info == nullptr) return {};
        auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(s_module, info)));
        return std::vector<BYTE>(data, data + ::SizeofResource(s_module, info));
    }

    // Every language a resource is stored in.
    static std::vector<LANGID> Languages(LPCWSTR type, LPCWSTR name) {
        std::vector<LANGID> languages;
        ::EnumResourceLanguagesW(s_module, type, name, &CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
        return languages;
    }

    static DialogTemplate Dialog(WORD id) {
        const std::vector<BYTE> bytes = Resource(RT_DIALOG, MAKEINTRESOURCEW(id), kTraditionalChinese);
        DialogTemplate d{};
        Reader r(bytes.data(), bytes.size());
        d.version = r.Read<WORD>();
        d.signature = r.Read<WORD>();
        d.helpId = r.Read<DWORD>();
        d.exStyle = r.Read<DWORD>();
        d.style = r.Read<DWORD>();
        const WORD count = r.Read<WORD>();
        d.x = r.Read<short>(), d.y = r.Read<short>(), d.cx = r.Read<short>(), d.cy = r.Read<short>();
        d.menu = r.ReadNameOrOrdinal();
        d.windowClass = r.ReadNameOrOrdinal();
        d.caption = r.ReadString();
        d.pointSize = r.Read<WORD>();
        d.weight = r.Read<WORD>();
        d.italic = r.Read<BYTE>();
        d.charset = r.Read<BYTE>();
        d.typeface = r.ReadString();
        for (WORD i = 0; i < count && !r.Overrun(); ++i) {
            r.AlignTo(4);
            Control c{};
            c.helpId = r.Read<DWORD>();
            c.exStyle = r.Read<DWORD>();
            c.style = r.Read<DWORD>();
            c.x = r.Read<short>(), c.y = r.Read<short>(), c.cx = r.Read<short>(), c.cy = r.Read<short>();
            c.id = r.Read<DWORD>();
            c.windowClass = r.ReadNameOrOrdinal();
            c.text = r.ReadNameOrOrdinal();
            c.extraBytes = r.Read<WORD>();
            d.controls.push_back(c);
        }
        EXPECT_FALSE(r.Overrun()) << "dialog " << id << " is truncated";
        return d;
    }

    static HMODULE s_module;
    static const testsupport::CheckedExe s_exe;
};

HMODULE ResourcesTest::s_module = nullptr;
const testsupport::CheckedExe ResourcesTest::s_exe = testsupport::CheckedExeOfThisRun();

// Class atoms of the predefined control classes, as a template stores them.
const std::wstring kButton = L"#128", kEdit = L"#129", kStatic = L"#130";
// A text the program may choose (the notice of rights), checked on its own.
const std::wstring kAnyText = L"\x1F";

void ExpectCommonHeader(const DialogTemplate& d) {
    EXPECT_EQ(d.version, 1);
    EXPECT_EQ(d.signature, 0xFFFF);
    EXPECT_EQ(d.helpId, 0u);
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.y, 0);
    EXPECT_EQ(d.menu, L"");
    EXPECT_EQ(d.windowClass, L"");
    EXPECT_EQ(d.pointSize, 9);
    EXPECT_EQ(d.weight, 0);
    EXPECT_EQ(d.italic, 0);
    EXPECT_EQ(d.charset, 1);
    EXPECT_EQ(d.typeface, L"MS Shell Dlg");
}

void ExpectControls(const DialogTemplate& d, const std::vector<Control>& expected) {
    ASSERT_EQ(d.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        const Control& got = d.controls[i];
        const Control& want = expected[i];
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.windowClass, want.windowClass);
        if (want.text != kAnyText) {
            EXPECT_EQ(got.text, want.text);
        }
        EXPECT_EQ(got.style, want.style) << std::hex << got.style;
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.helpId, 0u);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.extraBytes, 0);
    }
}

TEST_F(ResourcesTest, AboutBoxTemplate) {
    const DialogTemplate d = Dialog(IDD_ABOUTBOX);
    ExpectCommonHeader(d);
    EXPECT_EQ(d.style, 0x80C800C8u) << std::hex << d.style;
    EXPECT_EQ(d.exStyle, 0u);
    EXPECT_EQ(d.cx, 170);
    EXPECT_EQ(d.cy, 62);
    EXPECT_EQ(d.caption, L"關於 Pelloran");
    ExpectControls(d, {
        {0, 0, 0x50000003, 14, 14, 21, 20, 0xFFFFFFFF, kStatic, L"#128", 0},
        {0, 0, 0x50020080, 42, 14, 114, 8, 0xFFFFFFFF, kStatic, L"Pelloran, 1.0 版", 0},
        {0, 0, 0x50020000, 42, 26, 114, 8, 0xFFFFFFFF, kStatic, kAnyText, 0},
        {0, 0, 0x50030001, 113, 41, 50, 14, IDOK, kButton, L"確定", 0},
    });
    ASSERT_GT(d.controls.size(), 2u);
    EXPECT_NE(d.controls[2].text.find(L"2026"), std::wstring::npos) << "the notice of rights carries a year";
}

TEST_F(ResourcesTest, SettingsDialogTemplate) {
    const DialogTemplate d = Dialog(IDD_PELLORAN_DIALOG);
    ExpectCommonHeader(d);
    EXPECT_EQ(d.style, 0x90C800C8u) << std::hex << d.style;
    EXPECT_EQ(d.exStyle, 0x00040000u);
    EXPECT_EQ(d.cx, 239);
    EXPECT_EQ(d.cy, 185);
    EXPECT_EQ(d.caption, L"Pelloran");
    ExpectControls(d, {
        {0, 0, 0x50020000, 7, 6, 130, 8, IDC_STATUS_LABEL, kStatic, L"Pelloran Status :", 0},
        {0, 0, 0x50020000, 138, 6, 89, 8, IDC_STATUS_TEXT, kStatic, L"Enable", 0},
        {0, 0, 0x50010000, 16, 25, 61, 14, IDC_ENABLE, kButton, L"Enable", 0},
        {0, 0, 0x50010000, 137, 25, 61, 14, IDC_DISABLE, kButton, L"Disable", 0},
        {0, 0, 0x50000009, 18, 48, 187, 10, IDC_ADAPTER_MODE, kButton, L"Adapter Mode", 0},
        {0, 0, 0x50000009, 18, 63, 187, 10, IDC_ADAPTER_BATTERY_MODE, kButton, L"Adapter + Battery Mode", 0},
        {0, 0, 0x50A10844, 7, 75, 224, 103, IDC_DESCRIPTION, kEdit, L"", 0},
    });
}

TEST_F(ResourcesTest, EachResourceInItsOneLanguage) {
    const struct {
        LPCWSTR type;
        WORD id;
        LANGID language;
    } expected[] = {
        {RT_DIALOG, IDD_ABOUTBOX, kTraditionalChinese},      {RT_DIALOG, IDD_PELLORAN_DIALOG, kTraditionalChinese},
        {RT_STRING, IDS_ABOUTBOX / 16 + 1, kTraditionalChinese}, {RT_GROUP_ICON, IDR_MAINFRAME, kSimplifiedChinese},
        {RT_GROUP_ICON, IDI_PELLORAN, kSimplifiedChinese},   {RT_VERSION, 1, kTraditionalChinese},
        {RT_MANIFEST, 1, kEnglishUs},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE("resource id " + std::to_string(e.id));
        EXPECT_EQ(Languages(e.type, MAKEINTRESOURCEW(e.id)), std::vector<LANGID>{e.language});
    }
    for (WORD icon = 1; icon <= 8; ++icon)
        EXPECT_EQ(Languages(RT_ICON, MAKEINTRESOURCEW(icon)), std::vector<LANGID>{kSimplifiedChinese}) << icon;
}

TEST_F(ResourcesTest, AboutEntryTextIsAloneInItsStringBlock) {
    // Strings 96 to 111 share one block of 16 counted strings.
    const std::vector<BYTE> block = Resource(RT_STRING, MAKEINTRESOURCEW(IDS_ABOUTBOX / 16 + 1), kTraditionalChinese);
    ASSERT_FALSE(block.empty());
    Reader r(block.data(), block.size());
    for (int id = 96; id < 112; ++id) {
        const WORD length = r.Read<WORD>();
        std::wstring text;
        for (WORD i = 0; i < length; ++i) text += r.Read<wchar_t>();
        EXPECT_EQ(text, id == IDS_ABOUTBOX ? L"關於 Pelloran(&A)..." : L"") << "string " << id;
    }
    EXPECT_FALSE(r.Overrun());
}

TEST_F(ResourcesTest, IconGroupsHoldTheSameFourImages) {
    const struct {
        BYTE size;
        DWORD bytes;
    } kImages[] = {{48, 9640}, {32, 4264}, {24, 2440}, {16, 1128}};
    const WORD groups[] = {IDR_MAINFRAME, IDI_PELLORAN};
    for (int g = 0; g < 2; ++g) {
        SCOPED_TRACE("icon group " + std::to_string(groups[g]));
        const std::vector<BYTE> dir = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(groups[g]), kSimplifiedChinese);
        Reader r(dir.data(), dir.size());
        EXPECT_EQ(r.Read<WORD>(), 0);  // reserved
        EXPECT_EQ(r.Read<WORD>(), 1);  // icons
        ASSERT_EQ(r.Read<WORD>(), 4);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(r.Read<BYTE>(), kImages[i].size);  // width
            EXPECT_EQ(r.Read<BYTE>(), kImages[i].size);  // height
            EXPECT_EQ(r.Read<BYTE>(), 0);                // colour count
            r.Read<BYTE>();                              // reserved
            EXPECT_EQ(r.Read<WORD>(), 1);                // planes
            EXPECT_EQ(r.Read<WORD>(), 32);               // bits per pixel
            EXPECT_EQ(r.Read<DWORD>(), kImages[i].bytes);
            EXPECT_EQ(r.Read<WORD>(), g * 4 + i + 1);    // icon id
        }
        EXPECT_EQ(r.pos(), dir.size());
    }
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE("image " + std::to_string(kImages[i].size));
        const std::vector<BYTE> first = Resource(RT_ICON, MAKEINTRESOURCEW(i + 1), kSimplifiedChinese);
        const std::vector<BYTE> second = Resource(RT_ICON, MAKEINTRESOURCEW(i + 5), kSimplifiedChinese);
        ASSERT_EQ(first.size(), kImages[i].bytes);
        EXPECT_EQ(first, second);
        BITMAPINFOHEADER header;
        std::memcpy(&header, first.data(), sizeof(header));
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(header.biWidth, kImages[i].size);
        EXPECT_EQ(header.biHeight, 2 * kImages[i].size);  // colour image and mask
        EXPECT_EQ(header.biBitCount, 32);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    }
}

// One node of the version block: key, value bytes and children.
struct VersionNode {
    std::wstring key;
    WORD type = 0;
    std::vector<BYTE> value;
    std::vector<VersionNode> children;
};

VersionNode ParseVersionNode(const BYTE* data, size_t size) {
    VersionNode node;
    Reader r(data, size);
    const WORD length = r.Read<WORD>();
    const WORD valueLength = r.Read<WORD>();
    node.type = r.Read<WORD>();
    node.key = r.ReadString();
    r.AlignTo(4);
    const size_t valueBytes = node.type == 1 ? valueLength * sizeof(wchar_t) : valueLength;
    if (r.pos() + valueBytes <= size) node.value.assign(data + r.pos(), data + r.pos() + valueBytes);
    size_t pos = (r.pos() + valueBytes + 3) / 4 * 4;
    while (pos + 6 <= length && length <= size) {
        WORD childLength;
        std::memcpy(&childLength, data + pos, sizeof(childLength));
        if (childLength == 0) break;
        node.children.push_back(ParseVersionNode(data + pos, length - pos));
        pos = (pos + childLength + 3) / 4 * 4;
    }
    return node;
}

TEST_F(ResourcesTest, VersionBlock) {
    const std::vector<BYTE> bytes = Resource(RT_VERSION, MAKEINTRESOURCEW(1), kTraditionalChinese);
    ASSERT_FALSE(bytes.empty());
    const VersionNode root = ParseVersionNode(bytes.data(), bytes.size());
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, root.value.data(), sizeof(fixed));
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwStrucVersion, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00000007u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0x00000007u);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, 0x00000004u);
    EXPECT_EQ(fixed.dwFileType, 1u);
    EXPECT_EQ(fixed.dwFileSubtype, 0u);
    EXPECT_EQ(fixed.dwFileDateMS, 0u);
    EXPECT_EQ(fixed.dwFileDateLS, 0u);

    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode& strings = root.children[0];
    EXPECT_EQ(strings.key, L"StringFileInfo");
    ASSERT_EQ(strings.children.size(), 1u);
    const VersionNode& table = strings.children[0];
    EXPECT_EQ(table.key, L"040403b6");
    const std::pair<std::wstring, std::wstring> kEntries[] = {
        {L"CompanyName", L"Tolvek Computer Inc."}, {L"FileDescription", L"Pelloran UI Test"},
        {L"FileVersion", L"1.0.0.7"},             {L"InternalName", L"Pelloran.exe"},
        {L"LegalCopyright", L""},                 {L"OriginalFilename", L"Pelloran.exe"},
        {L"ProductName", L"Pelloran"},            {L"ProductVersion", L"1.0.0.7"},
    };
    ASSERT_EQ(table.children.size(), std::size(kEntries));
    for (size_t i = 0; i < std::size(kEntries); ++i) {
        const VersionNode& entry = table.children[i];
        EXPECT_EQ(entry.key, kEntries[i].first);
        EXPECT_EQ(entry.type, 1);
        std::wstring value(reinterpret_cast<const wchar_t*>(entry.value.data()), entry.value.size() / 2);
        if (!value.empty() && value.back() == L'\0') value.pop_back();
        if (kEntries[i].first == L"LegalCopyright") {
            EXPECT_NE(value.find(L"Copyright"), std::wstring::npos) << "a notice of rights";
        } else {
            EXPECT_EQ(value, kEntries[i].second);
        }
    }

    const VersionNode& vars = root.children[1];
    EXPECT_EQ(vars.key, L"VarFileInfo");
    ASSERT_EQ(vars.children.size(), 1u);
    EXPECT_EQ(vars.children[0].key, L"Translation");
    EXPECT_EQ(vars.children[0].value, (std::vector<BYTE>{0x04, 0x04, 0xB6, 0x03}));
}

TEST_F(ResourcesTest, ManifestBytes) {
    const std::vector<BYTE> bytes = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), kEnglishUs);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.size(), Is64() ? 635u : 633u);
    EXPECT_EQ(text.rfind("<?xml", 0), std::string::npos) << "no XML declaration";
    EXPECT_EQ(text.substr(text.size() - 11), "</assembly>") << "no line end after the last line";
    size_t lines = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at " << i;
        ++lines;
    }
    EXPECT_EQ(lines, 13u);
    for (const char* needle :
         {"<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
          "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
          "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\">",
          Is64() ? "type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
                   "processorArchitecture=\"amd64\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\""
                 : "type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
                   "processorArchitecture=\"x86\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\""})
        EXPECT_NE(text.find(needle), std::string::npos) << needle;

    // And the resource is the repository's manifest, byte for byte.
    EXPECT_EQ(text, testsupport::ReadFileBytes(testsupport::WinPath(
                        Is64() ? PELLORAN_SOURCE_DIR "/res/Pelloran.amd64.manifest"
                               : PELLORAN_SOURCE_DIR "/res/Pelloran.manifest")));
}

}  // namespace
