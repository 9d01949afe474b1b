// The executable file itself: what it imports and how it is hardened.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

namespace {

// The headers and import names of a 32-bit PE file, read from its bytes.
class PeFile {
public:
    explicit PeFile(std::string bytes) : m_bytes(std::move(bytes)) {
        IMAGE_DOS_HEADER dos;
        if (!Copy(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return;
        m_valid = Copy(dos.e_lfanew, &m_nt) && m_nt.Signature == IMAGE_NT_SIGNATURE &&
                  m_nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC;
        m_sectionsAt = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                       m_nt.FileHeader.SizeOfOptionalHeader;
    }

    bool valid() const { return m_valid; }
    const IMAGE_NT_HEADERS32& nt() const { return m_nt; }

    std::vector<std::string> ImportedDlls() const {
        std::vector<std::string> names;
        const IMAGE_DATA_DIRECTORY& dir = m_nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (DWORD at = FileOffset(dir.VirtualAddress); at != 0; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            IMAGE_IMPORT_DESCRIPTOR import;
            if (!Copy(at, &import) || import.Name == 0) break;
            const DWORD nameAt = FileOffset(import.Name);
            if (nameAt == 0) break;
            names.emplace_back(m_bytes.c_str() + nameAt);
        }
        return names;
    }

private:
    template <typename T>
    bool Copy(size_t offset, T* out) const {
        if (offset + sizeof(T) > m_bytes.size()) return false;
        std::memcpy(out, m_bytes.data() + offset, sizeof(T));
        return true;
    }

    // The file offset of a relative virtual address; 0 when no section holds it.
    DWORD FileOffset(DWORD rva) const {
        for (WORD i = 0; i < m_nt.FileHeader.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            if (!Copy(m_sectionsAt + i * sizeof(section), &section)) return 0;
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.Misc.VirtualSize)
                return rva - section.VirtualAddress + section.PointerToRawData;
        }
        return 0;
    }

    std::string m_bytes;
    IMAGE_NT_HEADERS32 m_nt{};
    size_t m_sectionsAt = 0;
    bool m_valid = false;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

class PeFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_file.valid()) << "Pelloran.exe is not a 32-bit PE file"; }
    PeFile m_file{testsupport::ReadFileBytes(testsupport::ToolPath())};
};

TEST_F(PeFileTest, IsA32BitGuiProgram) {
    EXPECT_EQ(m_file.nt().FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(m_file.nt().OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(m_file.nt().FileHeader.Characteristics & IMAGE_FILE_DLL, 0);
}

TEST_F(PeFileTest, ImportsOnlyWindowsSystemDlls) {
    // The runtime is linked in: nothing like libstdc++-6.dll or libgcc_s_*.dll may be needed,
    // and nothing that a planted copy beside the program could stand in for.
    const std::vector<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
                                             "ole32.dll",    "oleaut32.dll", "comctl32.dll", "msvcrt.dll"};
    const std::vector<std::string> imports = m_file.ImportedDlls();
    ASSERT_FALSE(imports.empty());
    for (const std::string& dll : imports)
        EXPECT_NE(std::find(system.begin(), system.end(), Lower(dll)), system.end()) << dll;
}

TEST_F(PeFileTest, AddressSpaceRandomisationAndDep) {
    const WORD flags = m_file.nt().OptionalHeader.DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    // Randomisation needs the relocations: they must be kept in the file.
    EXPECT_EQ(m_file.nt().FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED, 0);
    EXPECT_GT(m_file.nt().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
}

}  // namespace
