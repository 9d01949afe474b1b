// Helpers shared by the test programs: paths under Wine, and driving the real Pelloran.exe from
// outside as a user would (start it, find its windows, read and click its controls).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// A Unix path of the build machine as Wine sees it (drive Z: maps the Unix root).
std::wstring WinPath(const char* unixPath);

// The whole content of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);

// The built Pelloran.exe, as a Windows path.
std::wstring ToolPath();

// The executable that a static check (headers, resources) reads as data, and its flavour ("x86" or
// "x64"): the one that PELLORAN_CHECKED_EXE and PELLORAN_CHECKED_FLAVOUR name (the 32-bit product,
// read by the 64-bit flavour's tests), otherwise this build's own Pelloran.exe.
struct CheckedExe {
    std::wstring path;
    std::string flavour;
};
CheckedExe CheckedExeOfThisRun();

// A started copy of the tool; it is ended (if still running) when the object goes.
class ToolProcess {
public:
    // Starts the executable (the tool unless told otherwise) with the test's own environment.
    explicit ToolProcess(const std::wstring& exePath = ToolPath());
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    bool started() const { return m_info.hProcess != nullptr; }
    DWORD pid() const { return m_info.dwProcessId; }
    // Waits for the process to end; its exit code, or STILL_ACTIVE after the time-out.
    DWORD WaitForExit(DWORD timeoutMs);
    bool running() const;

private:
    PROCESS_INFORMATION m_info{};
};

// The visible top-level windows of a process, newest state.
std::vector<HWND> VisibleWindowsOf(DWORD pid);

// Waits up to timeoutMs for a visible top-level window of the process with the given caption
// (any caption when null); null when none appears.
HWND WaitForWindow(DWORD pid, const wchar_t* caption, DWORD timeoutMs);

// The text of a window or control, read the way another process reads it.
std::wstring TextOf(HWND hwnd);

// Caption of a window's class, e.g. "#32770" for dialogs and message boxes.
std::wstring ClassOf(HWND hwnd);

// The settings dialog of a process (or of any process when pid is 0): the visible dialog captioned
// "Pelloran" that holds the Enable button; null when none appears within timeoutMs.
HWND WaitForSettingsDialog(DWORD pid, DWORD timeoutMs);

// A message box of a process (a dialog with the static text 0xFFFF); null when none appears.
HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs);

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
