// A small driver for the running Pelloran dialog, used by the demo and the screenshot script:
//   pelloran_driver wait [ms]      wait for the settings dialog (or a message box) to appear
//   pelloran_driver state          print what the dialog shows, control by control
//   pelloran_driver click NAME     click a button of the dialog as a user would (enable, disable, adapter, ...)
//   pelloran_driver press NAME     the same click, without waiting for the dialog to handle it
//   pelloran_driver close          close the about box or a message box if one is open, then the dialog as with
//                                  its close box
//   pelloran_driver key esc|enter  press Escape or Enter in the dialog
//   pelloran_driver ping           whether the dialog answers within 10 s
//   pelloran_driver rect           print the dialog's screen rectangle (with its message box): x y width height
//   pelloran_driver about          open the about box from the system menu and wait for it
// Exit code 0 when it did what was asked, 1 when there was no dialog. With PELLORAN_DESKTOP set, it
// looks for the dialog on that desktop (Wine's virtual desktop of that name) instead of its own.
#include "res/resource.h"
#include "tests/driver/DialogWindows.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

using namespace testsupport;

constexpr struct {
    int id;
    const char* name;
} kControls[] = {
    {IDC_STATUS_LABEL, "label"}, {IDC_STATUS_TEXT, "state"}, {IDC_ENABLE, "enable"}, {IDC_DISABLE, "disable"},
    {IDC_ADAPTER_MODE, "adapter"}, {IDC_ADAPTER_BATTERY_MODE, "adapter+battery"}, {IDC_DESCRIPTION, "description"},
};

void PrintUtf8(const std::wstring& text) {
    char buffer[8192];
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), buffer,
                                        sizeof(buffer) - 1, nullptr, nullptr);
    buffer[n > 0 ? n : 0] = '\0';
    std::fputs(buffer, stdout);
}

int PrintState(HWND dialog) {
    for (const auto& control : kControls) {
        const ControlState state = StateOf(dialog, control.id);
        std::wstring text = state.text;
        for (wchar_t& c : text)
            if (c == L'\r' || c == L'\n') c = L' ';
        if (text.size() > 90) text = text.substr(0, 87) + L"...";
        std::printf("%-16s %-8s %-8s ", control.name, state.enabled ? "enabled" : "disabled",
                    control.id == IDC_ADAPTER_MODE || control.id == IDC_ADAPTER_BATTERY_MODE ? (state.checked ? "checked" : "clear") : "");
        PrintUtf8(text);
        std::printf("\n");
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t desktopName[64] = {};
    if (::GetEnvironmentVariableW(L"PELLORAN_DESKTOP", desktopName, 64) > 0) {
        // The desktop appears with the tool's start: wait for it as for the dialog.
        HDESK desktop = nullptr;
        for (int i = 0; i < 200 && (desktop = ::OpenDesktopW(desktopName, 0, FALSE, GENERIC_ALL)) == nullptr; ++i)
            ::Sleep(50);
        if (desktop == nullptr || !::SetThreadDesktop(desktop)) {
            std::printf("no desktop named %ls\n", desktopName);
            return 1;
        }
    }
    const std::wstring command = argc > 1 ? argv[1] : L"state";
    const DWORD waitMs = command == L"wait" && argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 10000;
    HWND dialog = WaitForWindow(0, &IsSettingsDialog, waitMs);
    if (dialog == nullptr) {
        if (HWND box = ::FindWindowExW(nullptr, nullptr, L"#32770", L"Pelloran")) {
            std::printf("message box: ");
            PrintUtf8(TextOf(::GetDlgItem(box, 0xFFFF)));
            std::printf("\n");
        } else {
            std::printf("no Pelloran dialog\n");
        }
        return 1;
    }
    if (command == L"wait") return 0;
    if (command == L"state") return PrintState(dialog);
    if ((command == L"click" || command == L"press") && argc > 2) {
        for (const auto& control : kControls)
            if (std::wstring(argv[2]) == std::wstring(control.name, control.name + std::strlen(control.name))) {
                if (command == L"click") Click(dialog, control.id);
                else ::PostMessageW(::GetDlgItem(dialog, control.id), BM_CLICK, 0, 0);
                return 0;
            }
    }
    if (command == L"key" && argc > 2) {
        const std::wstring key = argv[2];
        return PressKey(dialog, key == L"esc" ? VK_ESCAPE : VK_RETURN, 10000) ? 0 : 1;
    }
    if (command == L"ping") return Ping(dialog, 10000) ? 0 : 1;
    if (command == L"rect") {  // with a message box of the dialog, the rectangle that holds both
        RECT r, box;
        ::GetWindowRect(dialog, &r);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(dialog, &owner);
        if (HWND message = WaitForWindow(owner, [&](HWND h) { return IsMessageBox(h) && ::GetWindow(h, GW_OWNER) == dialog; }, 0))
            if (::GetWindowRect(message, &box)) ::UnionRect(&r, &r, &box);
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return 0;
    }
    DWORD pid = 0;
    ::GetWindowThreadProcessId(dialog, &pid);
    const wchar_t* const aboutCaption = L"\x95DC\x65BC Pelloran";  // the about box's caption
    if (command == L"about") return OpenAbout(dialog, IDM_ABOUTBOX, 10000) != nullptr ? 0 : 1;
    if (command == L"close") {
        // The dialog is disabled while its about box or a message box is open: that one goes first.
        const auto ownedBox = [&](HWND h) { return TextOf(h) == aboutCaption || (IsMessageBox(h) && ::GetWindow(h, GW_OWNER) == dialog); };
        if (HWND box = WaitForWindow(pid, ownedBox, 0)) {
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            for (int i = 0; i < 500 && ::IsWindow(box); ++i) ::Sleep(10);
        }
        ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        for (int i = 0; i < 500 && ::IsWindow(dialog); ++i) ::Sleep(10);
        return ::IsWindow(dialog) ? 1 : 0;
    }
    std::fprintf(stderr, "usage: pelloran_driver wait [ms] | state | click NAME | press NAME | close | key esc|enter | about | "
                         "ping | rect\n");
    return 2;
}
