// The stored mode, in the registry of the tests' Wine prefix: what a read makes of each stored value,
// and what a write leaves.
#include "prefs/ModePreference.h"
#include "tests/support/StoredMode.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

int Access(int operation, int value) {
    AccessModePreference(operation, value);
    return value;
}

const Stored kNone{REG_NONE, ""}, kText{REG_SZ, std::string("a\0b\0\0\0", 6)}, kQword{REG_QWORD, std::string(8, '\1')},
    kFourBytes{REG_BINARY, "\x01\x02\x03\x04"};

// A read takes up to four bytes and replaces anything else by 1; a write stores a DWORD over anything.
TEST(ModePreference, ReadTakesUpToFourBytesAndReplacesAnythingElseByOneAndWriteStoresADword) {
    const struct { Stored before; int read; Stored after; int write; } cases[] = {
        {Dword(0), 0, Dword(0), 1}, {Dword(5), 5, Dword(5), 0}, {kFourBytes, 0x04030201, kFourBytes, 1},
        {kText, 1, Dword(1), 0}, {kQword, 1, Dword(1), 0}, {kNone, 1, Dword(1), 0}, {kText, 1, Dword(1), 1},
        {kQword, 1, Dword(1), 1}, {kNone, 1, Dword(1), 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.before.type << ", " << c.before.bytes.size() << " bytes");
        Store(c.before);
        EXPECT_EQ(Access(MODE_PREFERENCE_READ, 7), c.read);
        EXPECT_EQ(ReadStored(), c.after);
        Store(c.before);
        Access(MODE_PREFERENCE_WRITE, c.write);
        EXPECT_EQ(ReadStored(), Dword(c.write));
    }
    HKEY key = nullptr;  // the key a read or write created lasts: a lasting key can be made below it
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tolvek\\Quenby\\Lasting", 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    ::RegCloseKey(key);
    Store(kNone);
}

}  // namespace
