// The running dialog read and driven from another process, as a user would: its windows found, its controls'
// texts and states read, its buttons clicked and keys pressed. Shared by the tests and the dialog driver.
#pragma once

#include "res/resource.h"

#include <windows.h>

#include <functional>
#include <string>

namespace testsupport {

// Polls until the condition holds; false when it still does not after the time-out.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 30000) {
    for (DWORD waited = 0; waited <= timeoutMs; waited += 5, ::Sleep(5))
        if (condition()) return true;
    return false;
}

// The text of a window or control, read the way another process reads it.
inline std::wstring TextOf(HWND hwnd) {
    static wchar_t text[8192];
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 30000, &length))
        return L"<no answer>";
    return std::wstring(text, length);
}

struct WindowSearch {
    DWORD pid;
    const std::function<bool(HWND)>& test;
    HWND found;
};
inline BOOL CALLBACK VisitWindow(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if ((search->pid == 0 || owner == search->pid) && ::IsWindowVisible(hwnd) && search->test(hwnd)) search->found = hwnd;
    return search->found == nullptr;
}

// Waits for a visible window of the process (any process when pid is 0) that passes the test.
inline HWND WaitForWindow(DWORD pid, const std::function<bool(HWND)>& test, DWORD timeoutMs = 30000) {
    WindowSearch search{pid, test, nullptr};
    WaitUntil([&] { return ::EnumWindows(&VisitWindow, reinterpret_cast<LPARAM>(&search)), search.found != nullptr; }, timeoutMs);
    return search.found;
}

// A dialog or message box: a window of the dialog class.
inline bool IsDialog(HWND hwnd) {
    wchar_t name[16] = {};
    return ::GetClassNameW(hwnd, name, 16) > 0 && std::wstring(name) == L"#32770";
}
// The settings dialog: a dialog captioned "Pelloran" holding the Enable button.
inline bool IsSettingsDialog(HWND hwnd) {
    return IsDialog(hwnd) && ::GetDlgItem(hwnd, IDC_ENABLE) != nullptr && TextOf(hwnd) == L"Pelloran";
}
// A message box: a dialog with the static text 0xFFFF.
inline bool IsMessageBox(HWND hwnd) { return IsDialog(hwnd) && ::GetDlgItem(hwnd, 0xFFFF) != nullptr; }

// What a user sees of one control.
struct ControlState {
    std::wstring text;
    bool enabled;
    bool checked;
};
inline ControlState StateOf(HWND dialog, int controlId) {
    HWND control = ::GetDlgItem(dialog, controlId);
    DWORD_PTR check = 0;
    ::SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_NORMAL, 30000, &check);
    return {TextOf(control), ::IsWindowEnabled(control) != FALSE, check == BST_CHECKED};
}

// Clicks a button as a user would; false when the program has not handled the click within the time-out.
inline bool Click(HWND dialog, int controlId, DWORD timeoutMs = 60000) {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutW(::GetDlgItem(dialog, controlId), BM_CLICK, 0, 0, SMTO_NORMAL, timeoutMs, &ignored) != 0;
}

// Whether the window's thread answers a message within the time-out.
inline bool Ping(HWND hwnd, DWORD timeoutMs) {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored) != 0;
}

// Presses a key (Escape, Enter, ...) on the control of the dialog that has the focus, as a user would; true
// once the program has handled it (or closed the dialog) within the time-out.
inline bool PressKey(HWND dialog, UINT virtualKey, DWORD timeoutMs) {
    GUITHREADINFO thread = {sizeof(thread)};
    HWND target = ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &thread) && thread.hwndFocus ? thread.hwndFocus : dialog;
    const UINT scan = ::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    ::PostMessageW(target, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    ::PostMessageW(target, WM_KEYUP, virtualKey, 1 | (scan << 16) | 0xC0000000);
    // The keys wait in the thread's queue; a marker posted behind them tells when they have been handled:
    // the description's typing limit, which nothing else of the read-only text uses.
    static LPARAM marker = 60000;
    HWND description = ::GetDlgItem(dialog, IDC_DESCRIPTION);
    ::PostMessageW(description, EM_SETLIMITTEXT, static_cast<WPARAM>(++marker), 0);
    return WaitUntil([&] {
        DWORD_PTR limit = 0;
        return !::IsWindow(dialog) || (::SendMessageTimeoutW(description, EM_GETLIMITTEXT, 0, 0, SMTO_NORMAL, 100, &limit) &&
                                       static_cast<LPARAM>(limit) == marker);
    }, timeoutMs);
}

// Opens the about box with a system command (the about entry's by default); the box, or null.
inline HWND OpenAbout(HWND dialog, UINT command = IDM_ABOUTBOX, DWORD timeoutMs = 30000) {
    ::PostMessageW(dialog, WM_SYSCOMMAND, command, 0);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(dialog, &pid);
    return WaitForWindow(pid, [](HWND h) { return IsDialog(h) && !IsSettingsDialog(h) && !IsMessageBox(h); }, timeoutMs);
}

}  // namespace testsupport
