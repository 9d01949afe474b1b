// The stored mode against the real registry of the tests' Wine prefix. Whatever the value held before
// the tests, it holds again afterwards.
#include "prefs/ModePreference.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr wchar_t kParentPath[] = L"Software\\Tolvek";
constexpr wchar_t kKeyPath[] = L"Software\\Tolvek\\Quenby";
constexpr wchar_t kValueName[] = L"PelloranMode";

using Bytes = std::vector<BYTE>;

struct StoredValue {
    bool present = false;
    DWORD type = REG_NONE;
    Bytes data;
};

bool KeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

StoredValue Stored() {
    StoredValue stored;
    BYTE data[256];
    DWORD size = sizeof(data);
    stored.present = ::RegGetValueW(HKEY_CURRENT_USER, kKeyPath, kValueName, RRF_RT_ANY | RRF_NOEXPAND, &stored.type,
                                    data, &size) == ERROR_SUCCESS;
    if (stored.present) stored.data.assign(data, data + size);
    return stored;
}

void Store(DWORD type, const Bytes& data) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kKeyPath, kValueName, type, data.data(), DWORD(data.size())),
              ERROR_SUCCESS);
}

Bytes Dword(DWORD value) { return Bytes{BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}; }

Bytes Text(const wchar_t* text) {  // REG_SZ data, terminating zero included
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
    return Bytes(bytes, bytes + (wcslen(text) + 1) * sizeof(wchar_t));
}

int Read(int before) {
    int value = before;
    AccessModePreference(MODE_PREFERENCE_READ, value);
    return value;
}

void Write(int value) { AccessModePreference(MODE_PREFERENCE_WRITE, value); }

// The number of open handles of this process, found by asking about every possible handle value.
int OpenHandleCount() {
    int count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

class ModePreferenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        keyExisted_ = KeyExists(kKeyPath);
        saved_ = Stored();
    }
    void TearDown() override {
        if (madeParentVolatile_) ::RegDeleteTreeW(HKEY_CURRENT_USER, kParentPath);
        if (!keyExisted_) {
            ::RegDeleteTreeW(HKEY_CURRENT_USER, kKeyPath);
        } else if (saved_.present) {
            Store(saved_.type, saved_.data);
        } else {
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kKeyPath, kValueName);
        }
    }

    void RemoveKey() {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kKeyPath);
        ASSERT_FALSE(KeyExists(kKeyPath));
    }

    // A volatile parent key: the non-volatile key below it cannot be created, so the key never opens.
    void MakeKeyUnopenable() {
        RemoveKey();
        const LSTATUS removed = ::RegDeleteKeyW(HKEY_CURRENT_USER, kParentPath);
        if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
            GTEST_SKIP() << "Software\\Tolvek holds keys of others; it is not ours to replace";
        madeParentVolatile_ = true;
        HKEY parent = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kParentPath, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                    nullptr, &parent, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(parent);
    }

    bool keyExisted_ = false;
    bool madeParentVolatile_ = false;
    StoredValue saved_;
};

void ExpectStoredDword(DWORD expected) {
    const StoredValue stored = Stored();
    ASSERT_TRUE(stored.present);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(stored.data, Dword(expected));
}

}  // namespace

TEST_F(ModePreferenceTest, FirstRunCreatesTheKeyAndStoresOne) {
    RemoveKey();
    EXPECT_EQ(Read(7), 1);
    ExpectStoredDword(1);
}

TEST_F(ModePreferenceTest, StoredNumberIsReadAndKeptUntilWritten) {
    Store(REG_DWORD, Dword(0));
    EXPECT_EQ(Read(7), 0);
    ExpectStoredDword(0);

    Store(REG_DWORD, Dword(5));
    EXPECT_EQ(Read(7), 5);
    EXPECT_EQ(Read(7), 5);
    ExpectStoredDword(5);
}

TEST_F(ModePreferenceTest, DataLongerThanFourBytesIsReplacedByOne) {
    const std::pair<DWORD, Bytes> longer[] = {
        {REG_SZ, Text(L"ab")},
        {REG_SZ, Text(L"Adapter Mode")},
        {REG_QWORD, Bytes{0, 0, 0, 0, 0, 0, 0, 0}},
        {REG_BINARY, Bytes{5, 0, 0, 0, 0}},
    };
    for (const auto& value : longer) {
        SCOPED_TRACE(testing::Message() << "type " << value.first << ", " << value.second.size() << " bytes");
        Store(value.first, value.second);
        EXPECT_EQ(Read(7), 1);
        ExpectStoredDword(1);
    }
}

// The type is never asked for: four bytes of any type are the number, little-endian, and stay as they are.
TEST_F(ModePreferenceTest, FourBytesOfAnyTypeAreReadAsTheNumber) {
    Store(REG_BINARY, Bytes{0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(Read(7), 0x04030201);
    EXPECT_EQ(Stored().type, static_cast<DWORD>(REG_BINARY));

    Store(REG_BINARY, Bytes{0, 0, 0, 0});
    EXPECT_EQ(Read(7), 0);

    Store(REG_SZ, Text(L"a"));  // one character and its terminating zero
    EXPECT_EQ(Read(7), 0x61);
}

TEST_F(ModePreferenceTest, ShorterDataIsZeroExtended) {
    Store(REG_BINARY, Bytes{0x01, 0x02, 0x03});
    EXPECT_EQ(Read(7), 0x030201);
    Store(REG_BINARY, Bytes{0xFE, 0xFF});
    EXPECT_EQ(Read(7), 0xFFFE);
    Store(REG_BINARY, Bytes{0x80});
    EXPECT_EQ(Read(7), 0x80);
    Store(REG_BINARY, Bytes{});
    EXPECT_EQ(Read(7), 0);
}

TEST_F(ModePreferenceTest, WriteStoresADwordOverAnyPreviousValue) {
    const std::pair<DWORD, Bytes> previous[] = {
        {REG_DWORD, Dword(5)},          {REG_SZ, Text(L"Adapter")}, {REG_QWORD, Bytes(8, 0xAA)},
        {REG_BINARY, Bytes{1, 2}},      {REG_MULTI_SZ, Text(L"")},  {REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 0, 1}},
    };
    for (int mode : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "writing " << mode);
        RemoveKey();
        Write(mode);
        ExpectStoredDword(mode);
        for (const auto& value : previous) {
            SCOPED_TRACE(testing::Message() << "over type " << value.first);
            Store(value.first, value.second);
            Write(mode);
            ExpectStoredDword(mode);
            EXPECT_EQ(Read(7), mode);
        }
    }
}

TEST_F(ModePreferenceTest, KeyThatCannotBeOpenedLeavesEverythingAlone) {
    MakeKeyUnopenable();
    if (IsSkipped()) return;
    EXPECT_EQ(Read(42), 42);
    Write(0);
    EXPECT_FALSE(KeyExists(kKeyPath));
}

TEST_F(ModePreferenceTest, EveryCallClosesTheHandlesItOpened) {
    Store(REG_DWORD, Dword(0));
    Read(7);  // the platform keeps a handle of the user's root from the first use on
    const int before = OpenHandleCount();

    HKEY probe = nullptr;  // the count sees registry handles
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &probe), ERROR_SUCCESS);
    ASSERT_EQ(OpenHandleCount(), before + 1);
    ::RegCloseKey(probe);

    for (int i = 0; i < 50; ++i) {
        RemoveKey();
        Read(7);                           // key and value created
        Read(7);                           // value read
        Store(REG_SZ, Text(L"ab"));
        Read(7);                           // value replaced
        Write(i % 2);
    }
    EXPECT_EQ(OpenHandleCount(), before);

    MakeKeyUnopenable();
    if (IsSkipped()) return;
    for (int i = 0; i < 50; ++i) {
        Read(7);
        Write(1);
    }
    EXPECT_EQ(OpenHandleCount(), before);
}
