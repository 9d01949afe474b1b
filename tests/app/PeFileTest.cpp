// The executable file itself: what it imports and how it is hardened.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

namespace {

// The headers and import names of a PE file (32-bit or 64-bit), read from its bytes.
class PeFile {
public:
    explicit PeFile(std::string bytes) : m_bytes(std::move(bytes)) {
        IMAGE_DOS_HEADER dos;
        DWORD signature = 0;
        if (!Copy(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return;
        if (!Copy(dos.e_lfanew, &signature) || signature != IMAGE_NT_SIGNATURE) return;
        const size_t fileHeaderAt = dos.e_lfanew + sizeof(signature);
        const size_t optionalAt = fileHeaderAt + sizeof(IMAGE_FILE_HEADER);
        if (!Copy(fileHeaderAt, &m_file) || !Copy(optionalAt, &m_magic)) return;
        if (m_magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
            IMAGE_OPTIONAL_HEADER32 optional;
            m_valid = Copy(optionalAt, &optional) && Take(optional);
        } else if (m_magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
            IMAGE_OPTIONAL_HEADER64 optional;
            m_valid = Copy(optionalAt, &optional) && Take(optional);
        }
        m_sectionsAt = optionalAt + m_file.SizeOfOptionalHeader;
    }

    bool valid() const { return m_valid; }
    size_t size() const { return m_bytes.size(); }
    const IMAGE_FILE_HEADER& header() const { return m_file; }
    WORD magic() const { return m_magic; }
    WORD subsystem() const { return m_subsystem; }
    WORD dllCharacteristics() const { return m_dllCharacteristics; }
    const IMAGE_DATA_DIRECTORY& directory(int index) const { return m_directories[index]; }

    std::vector<std::string> ImportedDlls() const {
        std::vector<std::string> names;
        const IMAGE_DATA_DIRECTORY& dir = m_directories[IMAGE_DIRECTORY_ENTRY_IMPORT];
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

    template <typename Optional>
    bool Take(const Optional& optional) {
        m_subsystem = optional.Subsystem;
        m_dllCharacteristics = optional.DllCharacteristics;
        std::memcpy(m_directories, optional.DataDirectory, sizeof(m_directories));
        return true;
    }

    // The file offset of a relative virtual address; 0 when no section holds it.
    DWORD FileOffset(DWORD rva) const {
        for (WORD i = 0; i < m_file.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            if (!Copy(m_sectionsAt + i * sizeof(section), &section)) return 0;
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.Misc.VirtualSize)
                return rva - section.VirtualAddress + section.PointerToRawData;
        }
        return 0;
    }

    std::string m_bytes;
    IMAGE_FILE_HEADER m_file{};
    WORD m_magic = 0;
    WORD m_subsystem = 0;
    WORD m_dllCharacteristics = 0;
    IMAGE_DATA_DIRECTORY m_directories[IMAGE_NUMBEROF_DIRECTORY_ENTRIES]{};
    size_t m_sectionsAt = 0;
    bool m_valid = false;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

class PeFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_file.valid()) << "not a PE file: " << Narrow(m_exe.path); }
    static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
    bool is64() const { return m_exe.flavour == "x64"; }

    testsupport::CheckedExe m_exe = testsupport::CheckedExeOfThisRun();
    PeFile m_file{testsupport::ReadFileBytes(m_exe.path)};
};

TEST_F(PeFileTest, IsAGuiProgramOfItsFlavour) {
    EXPECT_EQ(m_file.header().Machine, is64() ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(m_file.magic(), is64() ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(m_file.subsystem(), IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(m_file.header().Characteristics & IMAGE_FILE_DLL, 0);
    // The tool stays tiny: its runtime, its icons and its code together.
    EXPECT_LE(m_file.size(), 96u * 1024) << "the executable grew";
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
    const WORD flags = m_file.dllCharacteristics();
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    // A 64-bit program is randomised over its whole address space, not only below 4 GB.
    if (is64()) {
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
    }
    // Randomisation needs the relocations: they must be kept in the file.
    EXPECT_EQ(m_file.header().Characteristics & IMAGE_FILE_RELOCS_STRIPPED, 0);
    EXPECT_GT(m_file.directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size, 0u);
}

}  // namespace
