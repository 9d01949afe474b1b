#include "tests/support/TestSupport.h"

namespace testsupport {

std::wstring WinPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p != '\0'; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
    ::CloseHandle(file);
    return bytes;
}

std::wstring ToolPath() { return WinPath(PELLORAN_EXE_PATH); }

CheckedExe CheckedExeOfThisRun() {
    char exe[MAX_PATH] = "";
    char flavour[8] = "";
    const DWORD exeLength = ::GetEnvironmentVariableA("PELLORAN_CHECKED_EXE", exe, sizeof(exe));
    const DWORD flavourLength = ::GetEnvironmentVariableA("PELLORAN_CHECKED_FLAVOUR", flavour, sizeof(flavour));
    if (exeLength == 0 || exeLength >= sizeof(exe) || flavourLength == 0 || flavourLength >= sizeof(flavour))
        return {ToolPath(), PELLORAN_FLAVOUR};
    return {WinPath(exe), flavour};
}

ToolProcess::ToolProcess(const std::wstring& exePath) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!::CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                          nullptr /* the test's environment */, nullptr /* its directory */, &startup,
                          &m_info))
        m_info = {};
}

ToolProcess::~ToolProcess() {
    if (m_info.hProcess == nullptr) return;
    if (running()) {
        ::TerminateProcess(m_info.hProcess, 1);
        ::WaitForSingleObject(m_info.hProcess, 5000);
    }
    ::CloseHandle(m_info.hThread);
    ::CloseHandle(m_info.hProcess);
}

DWORD ToolProcess::WaitForExit(DWORD timeoutMs) {
    if (m_info.hProcess == nullptr) return STILL_ACTIVE;
    ::WaitForSingleObject(m_info.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(m_info.hProcess, &code);
    return code;
}

bool ToolProcess::running() const {
    return m_info.hProcess != nullptr && ::WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT;
}

namespace {

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectVisibleWindow(HWND hwnd, LPARAM lParam) {
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->pid && ::IsWindowVisible(hwnd)) search->found.push_back(hwnd);
    return TRUE;
}

}  // namespace

std::vector<HWND> VisibleWindowsOf(DWORD pid) {
    WindowSearch search{pid, {}};
    ::EnumWindows(&CollectVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(DWORD pid, const wchar_t* caption, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    do {
        for (HWND hwnd : VisibleWindowsOf(pid))
            if (caption == nullptr || TextOf(hwnd) == caption) return hwnd;
        ::Sleep(5);
    } while (::GetTickCount() - start < timeoutMs);
    return nullptr;
}

std::wstring TextOf(HWND hwnd) {
    static wchar_t text[8192];
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                               5000, &length))
        return L"";
    return std::wstring(text, length);
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    const int length = ::GetClassNameW(hwnd, name, 256);
    return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

namespace {

// Polls the process's visible windows until one satisfies the test.
template <typename Test>
HWND WaitForWindowWhere(DWORD pid, DWORD timeoutMs, Test test) {
    const DWORD start = ::GetTickCount();
    do {
        for (HWND hwnd : pid != 0 ? VisibleWindowsOf(pid) : std::vector<HWND>{})
            if (test(hwnd)) return hwnd;
        if (pid == 0) {
            HWND hwnd = nullptr;
            while ((hwnd = ::FindWindowExW(nullptr, hwnd, L"#32770", L"Pelloran")) != nullptr)
                if (::IsWindowVisible(hwnd) && test(hwnd)) return hwnd;
        }
        ::Sleep(5);
    } while (::GetTickCount() - start < timeoutMs);
    return nullptr;
}

}  // namespace

HWND WaitForSettingsDialog(DWORD pid, DWORD timeoutMs) {
    return WaitForWindowWhere(pid, timeoutMs, [](HWND hwnd) {
        return ClassOf(hwnd) == L"#32770" && TextOf(hwnd) == L"Pelloran" && ::GetDlgItem(hwnd, 1002) != nullptr;
    });
}

HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs) {
    return WaitForWindowWhere(pid, timeoutMs, [](HWND hwnd) {
        return ClassOf(hwnd) == L"#32770" && ::GetDlgItem(hwnd, 0xFFFF) != nullptr &&
               ::GetDlgItem(hwnd, 1002) == nullptr;
    });
}

ControlState StateOf(HWND dialog, int controlId) {
    HWND control = ::GetDlgItem(dialog, controlId);
    if (control == nullptr) return {L"", false, false};
    DWORD_PTR check = 0;
    ::SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &check);
    return {TextOf(control), ::IsWindowEnabled(control) != FALSE, check == BST_CHECKED};
}

void Click(HWND dialog, int controlId) {
    HWND control = ::GetDlgItem(dialog, controlId);
    if (control == nullptr) return;
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 30000, &ignored);
}

bool ClickWithin(HWND dialog, int controlId, DWORD timeoutMs) {
    HWND control = ::GetDlgItem(dialog, controlId);
    DWORD_PTR ignored = 0;
    return control != nullptr &&
           ::SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, timeoutMs, &ignored) != 0;
}

bool Ping(HWND hwnd, DWORD timeoutMs) {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored) != 0;
}

bool PressKey(HWND dialog, UINT virtualKey, DWORD timeoutMs) {
    GUITHREADINFO thread = {sizeof(thread)};
    const DWORD threadId = ::GetWindowThreadProcessId(dialog, nullptr);
    HWND target = ::GetGUIThreadInfo(threadId, &thread) && thread.hwndFocus != nullptr ? thread.hwndFocus : dialog;
    const UINT scan = ::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    ::PostMessageW(target, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    ::PostMessageW(target, WM_KEYUP, virtualKey, 1 | (scan << 16) | 0xC0000000);
    // The keys wait in the thread's queue; a marker posted behind them tells when they have been handled:
    // the description's typing limit, which nothing else of the read-only text uses.
    static LPARAM marker = 60000;
    ++marker;
    HWND description = ::GetDlgItem(dialog, 1013);
    ::PostMessageW(description, EM_SETLIMITTEXT, static_cast<WPARAM>(marker), 0);
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < timeoutMs) {
        if (!::IsWindow(dialog)) return true;
        DWORD_PTR limit = 0;
        if (::SendMessageTimeoutW(description, EM_GETLIMITTEXT, 0, 0, SMTO_NORMAL, 100, &limit) &&
            static_cast<LPARAM>(limit) == marker)
            return true;
        ::Sleep(2);
    }
    return !::IsWindow(dialog);
}

HWND OpenAbout(HWND dialog, DWORD timeoutMs) {
    constexpr UINT kAboutCommand = 0x0010;  // the system menu's About entry
    ::PostMessageW(dialog, WM_SYSCOMMAND, kAboutCommand, 0);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(dialog, &pid);
    return WaitForWindowWhere(pid, timeoutMs, [dialog](HWND hwnd) {
        // Not a message box: those carry the tool's own caption.
        return hwnd != dialog && ClassOf(hwnd) == L"#32770" && ::GetDlgItem(hwnd, IDOK) != nullptr &&
               TextOf(hwnd) != L"Pelloran";
    });
}

}  // namespace testsupport
