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

using Value = std::pair<DWORD, std::vector<BYTE>>;  // registry type and data; REG_NONE: no value

Value Dword(DWORD n) { return {REG_DWORD, {BYTE(n), BYTE(n >> 8), BYTE(n >> 16), BYTE(n >> 24)}}; }
const Value kTextAb = {REG_SZ, {'a', 0, 'b', 0, 0, 0}};  // terminating zero included

bool KeyExists() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

Value Stored() {
    Value value{REG_NONE, std::vector<BYTE>(256)};
    DWORD size = 256;
    if (::RegGetValueW(HKEY_CURRENT_USER, kKeyPath, kValueName, RRF_RT_ANY | RRF_NOEXPAND, &value.first,
                       value.second.data(), &size) != ERROR_SUCCESS)
        return {REG_NONE, {}};
    value.second.resize(size);
    return value;
}

void Store(const Value& value) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kKeyPath, kValueName, value.first, value.second.data(),
                                DWORD(value.second.size())),
              ERROR_SUCCESS);
}

int Read(int before) {
    AccessModePreference(MODE_PREFERENCE_READ, before);
    return before;
}

void Write(int value) { AccessModePreference(MODE_PREFERENCE_WRITE, value); }

// The open handles of this process, found by asking about every handle value (Wine's own count is 0).
int HandleCount() {
    int count = 0;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4)
        count += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    return count;
}

class ModePreferenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        keyExisted_ = KeyExists();
        saved_ = Stored();
    }
    void TearDown() override {
        if (madeParentVolatile_) ::RegDeleteTreeW(HKEY_CURRENT_USER, kParentPath);
        if (!keyExisted_)
            ::RegDeleteTreeW(HKEY_CURRENT_USER, kKeyPath);
        else if (saved_.first != REG_NONE)
            Store(saved_);
        else
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kKeyPath, kValueName);
    }

    void RemoveKey() {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kKeyPath);
        ASSERT_FALSE(KeyExists());
    }

    bool keyExisted_ = false;
    bool madeParentVolatile_ = false;
    Value saved_;
};

}  // namespace

TEST_F(ModePreferenceTest, FirstRunCreatesTheKeyAndStoresOne) {
    RemoveKey();
    EXPECT_EQ(Read(7), 1);
    EXPECT_EQ(Stored(), Dword(1));
}

TEST_F(ModePreferenceTest, StoredNumberIsReadAndKeptUntilWritten) {
    for (DWORD mode : {0, 5}) {
        Store(Dword(mode));
        EXPECT_EQ(Read(7), int(mode));
        EXPECT_EQ(Read(7), int(mode));
        EXPECT_EQ(Stored(), Dword(mode));
    }
}

TEST_F(ModePreferenceTest, DataLongerThanFourBytesIsReplacedByOne) {
    for (const Value& longer : {kTextAb, Value{REG_QWORD, std::vector<BYTE>(8)}, Value{REG_BINARY, {5, 0, 0, 0, 0}}}) {
        SCOPED_TRACE(testing::Message() << "type " << longer.first << ", " << longer.second.size() << " bytes");
        Store(longer);
        EXPECT_EQ(Read(7), 1);
        EXPECT_EQ(Stored(), Dword(1));
    }
}

// The type is never asked for: up to four bytes of any type are the number, little-endian and
// zero-extended, and stay as they are.
TEST_F(ModePreferenceTest, UpToFourBytesOfAnyTypeAreReadAsTheNumber) {
    const std::pair<Value, int> values[] = {{{REG_BINARY, {0x01, 0x02, 0x03, 0x04}}, 0x04030201},
                                            {{REG_BINARY, {0x01, 0x02, 0x03}}, 0x030201},
                                            {{REG_BINARY, {0xFE, 0xFF}}, 0xFFFE},
                                            {{REG_BINARY, {}}, 0}};
    for (const auto& [value, number] : values) {
        SCOPED_TRACE(testing::Message() << value.second.size() << " bytes");
        Store(value);
        EXPECT_EQ(Read(7), number);
        EXPECT_EQ(Stored(), value);
    }
}

TEST_F(ModePreferenceTest, WriteStoresADwordOverAnyPreviousValue) {
    const Value previous[] = {{REG_NONE, {}}, Dword(5), kTextAb, {REG_QWORD, std::vector<BYTE>(8, 0xAA)},
                              {REG_BINARY, {1, 2}}};
    for (int mode : {0, 1}) {
        for (const Value& value : previous) {
            SCOPED_TRACE(testing::Message() << "writing " << mode << " over type " << value.first);
            if (value.first == REG_NONE)
                RemoveKey();  // no key at all
            else
                Store(value);
            Write(mode);
            EXPECT_EQ(Stored(), Dword(mode));
        }
    }
}

// Every call closes what it opened, and a key that cannot be opened leaves the caller's value and the
// registry alone.
TEST_F(ModePreferenceTest, EveryCallClosesItsHandlesAndAnUnopenableKeyChangesNothing) {
    Read(7);  // the platform keeps a handle of the user's root from the first use on
    const int before = HandleCount();
    HKEY probe = nullptr;  // the count sees registry handles
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, kParentPath, 0, KEY_READ, &probe), ERROR_SUCCESS);
    ASSERT_EQ(HandleCount(), before + 1);
    ::RegCloseKey(probe);
    for (int i = 0; i < 20; ++i) {
        RemoveKey();
        Read(7);  // key and value created
        Read(7);  // value read
        Store(kTextAb);
        Read(7);  // value replaced
        Write(i % 2);
    }
    EXPECT_EQ(HandleCount(), before);

    // A volatile parent key: the non-volatile key below it cannot be created, so the key never opens.
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
    const int withParent = HandleCount();
    EXPECT_EQ(Read(42), 42);
    Write(0);
    EXPECT_FALSE(KeyExists());
    EXPECT_EQ(HandleCount(), withParent);
}
