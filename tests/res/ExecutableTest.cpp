// The built Pelloran.exe and pelloranctl.exe as other programs read them: the templates' styles and classes (what
// the resource compiler may get wrong), the version blocks and the manifests that Windows and installers rely on,
// and the files' imports and hardening.
#include "res/resource.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

using namespace testsupport;

namespace {

std::string Environment(const char* name, const char* fallback) { return std::getenv(name) ? std::getenv(name) : fallback; }

// The executable read: this build's, or the one PELLORAN_CHECKED_EXE names (the 64-bit flavour reads the
// 32-bit product too), and whether it must be the 64-bit flavour.
const std::wstring kExe = WinPath(Environment("PELLORAN_CHECKED_EXE", PELLORAN_EXE_PATH).c_str());
const std::wstring kCtl = WinPath(Environment("PELLORAN_CHECKED_CTL", PELLORAN_CTL_PATH).c_str());
const bool k64 = Environment("PELLORAN_CHECKED_FLAVOUR", PELLORAN_FLAVOUR) == "x64";

std::string Resource(LPCWSTR type, LPCWSTR name, const std::wstring& file = kExe) {
    const HMODULE module = ::LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HRSRC info = ::FindResourceW(module, name, type);
    const char* data = info ? static_cast<const char*>(::LockResource(::LoadResource(module, info))) : nullptr;
    return data ? std::string(data, ::SizeofResource(module, info)) : std::string();
}

using Control = std::tuple<DWORD, WORD, DWORD>;  // id, class atom (0x80 button, 0x81 edit, 0x82 static), style

// A DIALOGEX template: its style, extended style, size and caption, and each control's id, class and style.
void ExpectTemplate(WORD id, DWORD style, DWORD exStyle, WORD cx, WORD cy, const std::wstring& caption,
                    const std::vector<Control>& controls) {
    SCOPED_TRACE(id);
    const std::string bytes = Resource(RT_DIALOG, MAKEINTRESOURCEW(id));
    ASSERT_GT(bytes.size(), 32u);
    const WORD* p = reinterpret_cast<const WORD*>(bytes.data());
    auto dword = [&](int at) { return DWORD(p[at]) | DWORD(p[at + 1]) << 16; };
    auto skipText = [](const WORD* text) { while (*text++ != 0) {} return text; };
    EXPECT_EQ(std::make_tuple(dword(6), dword(4), p[11], p[12]), std::make_tuple(style, exStyle, cx, cy)) << "style, size";
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(p + 15)), caption) << "the script's code page";
    ASSERT_EQ(p[8], controls.size());
    p = skipText(skipText(p + 15) + 3);  // past the caption, the font's size, weight, italic and charset, its name
    for (const Control& control : controls) {
        p = reinterpret_cast<const WORD*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
        EXPECT_EQ(std::make_tuple(dword(10), p[13], dword(4)), control) << "id, class and style";
        EXPECT_EQ(dword(2), 0u) << "the extended style of control " << std::get<0>(control);
        p = p[14] == 0xFFFF ? p + 16 : skipText(p + 14);  // past the text, an ordinal or a string
        p += 1 + (*p + 1) / 2;                             // past the creation data
    }
}

TEST(Resources, DialogTemplates) {
    ExpectTemplate(IDD_ABOUTBOX, 0x80C800C8, 0, 170, 62, L"\u95DC\u65BC Pelloran",
                   {{0xFFFFFFFF, 0x82, 0x50000003}, {0xFFFFFFFF, 0x82, 0x50020080}, {0xFFFFFFFF, 0x82, 0x50020000},
                    {IDOK, 0x80, 0x50030001}});
    ExpectTemplate(IDD_PELLORAN_DIALOG, 0x90C800C8, WS_EX_APPWINDOW, 239, 185, L"Pelloran",
                   {{IDC_STATUS_LABEL, 0x82, 0x50020000}, {IDC_STATUS_TEXT, 0x82, 0x50020000},
                    {IDC_ENABLE, 0x80, 0x50010000}, {IDC_DISABLE, 0x80, 0x50010000},
                    {IDC_ADAPTER_MODE, 0x80, 0x50000009}, {IDC_ADAPTER_BATTERY_MODE, 0x80, 0x50000009},
                    {IDC_DESCRIPTION, 0x81, 0x50A10844}});
}

// The version blocks: the version text agrees with the version numbers, the command line's with the tool's, and each
// text is found through the translation, which must name the string table that holds it.
TEST(Resources, VersionBlocks) {
    std::string block(::GetFileVersionInfoSizeW(kExe.c_str(), nullptr), '\0');
    const VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(::GetFileVersionInfoW(kExe.c_str(), 0, static_cast<DWORD>(block.size()), &block[0]) &&
                ::VerQueryValueW(block.data(), L"\\", (void**)&fixed, &size));
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    wchar_t version[32];
    std::swprintf(version, 32, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                  HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    const struct { const std::wstring& file; const wchar_t *key, *text; } rows[] = {
        {kExe, L"FileVersion", version}, {kExe, L"ProductVersion", version}, {kExe, L"OriginalFilename", L"Pelloran.exe"},
        {kCtl, L"ProductVersion", version}, {kCtl, L"OriginalFilename", L"pelloranctl.exe"},
        {kCtl, L"FileDescription", L"Pelloran command line"}};
    for (const auto& row : rows) EXPECT_EQ(VersionText(row.file, row.key), row.text) << row.key;
}

// The manifests: the tool's embedded byte for byte, asking for administrator rights and the common controls 6 of its
// architecture; the command line's asking for no elevation, so that a script in a prompt that is not elevated gets
// an exit code rather than a consent prompt.
TEST(Resources, Manifests) {
    const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    EXPECT_EQ(manifest, ReadFileBytes(WinPath(k64 ? PELLORAN_SOURCE_DIR "/res/Pelloran.amd64.manifest"
                                                  : PELLORAN_SOURCE_DIR "/res/Pelloran.manifest")));
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\">"), std::string::npos);
    EXPECT_NE(manifest.find(std::string("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" ") +
                            "processorArchitecture=\"" + (k64 ? "amd64" : "x86") + "\""),
              std::string::npos);
    EXPECT_NE(Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), kCtl).find("level=\"asInvoker\""), std::string::npos);
}

// A small, hardened, terminal-server-aware program of its flavour and subsystem, importing only system DLLs.
void ExpectHardenedProgram(const std::wstring& path, WORD subsystem, size_t maxBytes) {
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    const std::string file = ReadFileBytes(path);
    EXPECT_LE(file.size(), maxBytes) << "the executable grew";
    ASSERT_GT(file.size(), 1024u);
    // The headers as 32-bit ones: up to the optional header's magic, those of 64 bits are the same.
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        file.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data())->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine, k64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    ASSERT_EQ(nt->OptionalHeader.Magic, k64 ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    auto fileOffset = [&](DWORD rva) {  // where the section that holds the address keeps it in the file
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
                return rva - section->VirtualAddress + section->PointerToRawData;
        return DWORD(0);
    };
    auto check = [&](const auto& headers) {
        EXPECT_EQ(headers.Subsystem, subsystem);
        const WORD flags = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT |
                           IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
        EXPECT_EQ(headers.DllCharacteristics & (flags | IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA),
                  flags | (k64 ? IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA : 0))
            << "ASLR (high entropy in 64 bits), DEP, terminal-server aware";
        EXPECT_GT(headers.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u) << "relocations kept";
        const std::string system = " kernel32.dll user32.dll gdi32.dll advapi32.dll ole32.dll oleaut32.dll comctl32.dll msvcrt.dll ";
        auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
            file.data() + fileOffset(headers.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress));
        for (; import->Name != 0; ++import) {
            std::string dll = file.data() + fileOffset(import->Name);
            ::CharLowerBuffA(&dll[0], DWORD(dll.size()));
            EXPECT_NE(system.find(" " + dll + " "), std::string::npos) << dll;
        }
    };
    k64 ? check(reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt)->OptionalHeader) : check(nt->OptionalHeader);
}

TEST(PeFile, SmallHardenedTerminalServerAwarePrograms) {
    ExpectHardenedProgram(kExe, IMAGE_SUBSYSTEM_WINDOWS_GUI, 96 * 1024);
    ExpectHardenedProgram(kCtl, IMAGE_SUBSYSTEM_WINDOWS_CUI, 48 * 1024);
}

}  // namespace
