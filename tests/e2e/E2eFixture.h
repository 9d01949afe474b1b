// The end-to-end fixture: the real Pelloran.exe under Wine against the firmware simulator, checked
// only through what a user or the firmware sees (controls, message boxes, exit code, the stored
// mode, the simulator's call log).
#pragma once

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

// The controls of the settings dialog.
enum : int {
    kStatusText = 1001,
    kEnable = 1002,
    kDisable = 1003,
    kAdapter = 1004,
    kAdapterBattery = 1005,
    kStatusLabel = 1006,
    kDescription = 1013,
};

// One line of the simulator's call log: its event and its key=value fields.
struct LogEntry {
    std::wstring event;
    std::map<std::wstring, std::wstring> fields;
    long long t = 0;
    std::wstring Field(const wchar_t* key) const {
        auto it = fields.find(key);
        return it != fields.end() ? it->second : L"";
    }
};

// The stored mode: absent, or present with its registry type and bytes.
struct StoredMode {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;
    bool IsDword(DWORD value) const;
};

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the simulator's scenario (lines "Key=Value" of its [Scenario] section).
    void Scenario(const std::vector<std::wstring>& lines);
    // Sets the simulated feature's status word as the firmware keeps it between runs.
    void FirmwareState(DWORD statusWord);
    DWORD FirmwareStateNow() const;

    // The stored mode, and ways to put one there before the tool starts.
    static StoredMode ReadStoredMode();
    static void StoreMode(DWORD type, const void* data, DWORD size);
    static void StoreModeDword(DWORD value) { StoreMode(REG_DWORD, &value, sizeof(value)); }
    static void ForgetStoredMode();

    // Runs the tool from this test's folder (a copy of the executable beside `languageFile`, or
    // beside no language file at all when it is empty) or, by default, from the build.
    void UseOwnCopy(const std::string& languageFileBytes);
    // Writes the language file beside the test's own copy (the copy may be running).
    void WriteLanguageFile(const std::string& bytes);
    void Start();
    // The settings dialog of the running tool; fails the test when it does not appear.
    HWND Dialog();
    // Closes the dialog as with its close box and waits for the process to end; its exit code.
    DWORD CloseDialog();

    // Waits for a fatal message of the running tool with this text, lets `inspect` look at the box,
    // confirms it with OK, and expects the process to end with exit code 0, no control value sent.
    void ExpectFatalMessage(const wchar_t* text, const std::function<void(HWND)>& inspect = nullptr);

    // The simulator's log, parsed; and the control values that device_ctrl received, in order.
    std::vector<LogEntry> Log() const;
    std::vector<int> ControlValuesSent() const;
    int StatusReads() const;

    // The language file's text of a key in a section, as the build ships it.
    static std::wstring ShippedText(const wchar_t* section, int key);

    std::wstring m_folder;          // this test's own folder (Windows path)
    std::wstring m_exe;             // the executable the test runs
    std::unique_ptr<testsupport::ToolProcess> m_tool;
    HWND m_dialog = nullptr;
};

std::wstring Utf8ToWide(const std::string& text);

}  // namespace e2e
