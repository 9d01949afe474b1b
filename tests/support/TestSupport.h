// Helpers shared by the test programs: files under Wine, the firmware simulator's scenario and call log,
// the stored mode in the registry, and the real Pelloran.exe driven from outside as a user would.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// A Unix path of the build machine as Wine sees it (drive Z: maps the Unix root).
std::wstring WinPath(const char* unixPath);
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// The text as a file in UTF-16LE with a byte-order mark, the form of the language file.
std::string Utf16File(const std::wstring& text);
// A fresh, empty folder of this test program under the build's folder of test files.
std::wstring FreshFolder(const std::string& name);

// One line of the simulator's call log: its event and its key=value fields.
struct SimLogEntry {
    std::string event;
    std::map<std::string, std::string> fields;
    std::string operator[](const std::string& key) const;
    long long t() const { return std::stoll((*this)["t"]); }  // the simulator's clock, in ms
};

// A run of the firmware simulator in a folder: its scenario, the feature's state and its call log. The
// scenario is named to the simulator through the environment, which programs started later inherit.
class SimRun {
public:
    explicit SimRun(const std::wstring& folder);
    // Writes the scenario: keys of its [Scenario] section as "Key=Value" lines separated by ';'.
    void Scenario(const std::string& keys) const;
    std::vector<SimLogEntry> Log(const std::string& event = "") const;
    // The control values that device_ctrl was executed with, in order (retries not counted again).
    std::vector<int> ControlValues() const;

    const std::wstring folder;
};

// The stored mode: its registry type and bytes (REG_NONE: no value).
struct Stored {
    DWORD type;
    std::string bytes;
    bool operator==(const Stored& other) const { return type == other.type && bytes == other.bytes; }
};
Stored Dword(DWORD value);
Stored ReadStored();
void Store(const Stored& value);  // REG_NONE: the key removed
// Makes the key impossible to create (its parent volatile), or possible again.
void BlockStoredKey(bool blocked);

// A started copy of the tool; it is ended, if it still runs, when the object goes.
class ToolProcess {
public:
    explicit ToolProcess(const std::wstring& exePath);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
    DWORD pid() const { return m_info.dwProcessId; }
    // Waits for the end of the process; its exit code, or STILL_ACTIVE after the time-out.
    DWORD WaitForExit(DWORD timeoutMs = 30000) const;

private:
    PROCESS_INFORMATION m_info{};
};

// Polls until the condition holds; false when it still does not after the time-out.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 30000);
// The text of a window or control, read the way another process reads it.
std::wstring TextOf(HWND hwnd);
// Waits for a visible window of the process (any process when pid is 0) that passes the test.
HWND WaitForWindow(DWORD pid, bool (*test)(HWND), DWORD timeoutMs = 30000);
// A dialog or message box: a window of the dialog class.
bool IsDialog(HWND hwnd);
// The settings dialog: a visible dialog captioned "Pelloran" holding the Enable button.
bool IsSettingsDialog(HWND hwnd);
// A message box: a dialog with the static text 0xFFFF.
bool IsMessageBox(HWND hwnd);

// What a user sees of one control.
struct ControlState {
    std::wstring text;
    bool enabled;
    bool checked;
};
ControlState StateOf(HWND dialog, int controlId);
// Clicks a button as a user would; returns once the program has handled the click.
void Click(HWND dialog, int controlId);

// Clicks a button as a user would; false when the program has not handled the click within timeoutMs.
bool ClickWithin(HWND dialog, int controlId, DWORD timeoutMs);

// Whether the window's thread answers a message within timeoutMs.
bool Ping(HWND hwnd, DWORD timeoutMs);

// Presses a key (Escape, Enter, ...) on the control of the dialog that has the focus, as a user would;
// true once the program has handled it (or closed the dialog) within timeoutMs.
bool PressKey(HWND dialog, UINT virtualKey, DWORD timeoutMs);

// Opens the about box from the system menu; the box, or null when it does not appear within timeoutMs.
HWND OpenAbout(HWND dialog, DWORD timeoutMs);

}  // namespace testsupport
