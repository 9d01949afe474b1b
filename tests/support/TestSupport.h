// Helpers shared by the test programs: files under Wine, the firmware simulator's scenario and call log,
// the stored mode in the registry, and the real Pelloran.exe driven from outside as a user would.
#pragma once

#include "res/resource.h"

#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// A Unix path of the build machine as Wine sees it (drive Z: maps the Unix root).
inline std::wstring WinPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

inline std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

// The text as a file in UTF-16LE with a byte-order mark, the form of the language file.
inline std::string Utf16File(const std::wstring& text) {
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// A fresh, empty folder of this test program under the build's folder of test files.
inline std::wstring FreshFolder(const std::string& name) {
    const std::wstring folder = WinPath(PELLORAN_BINARY_DIR "/testfiles/" + name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

// One line of the simulator's call log: its event and its key=value fields.
struct SimLogEntry {
    std::string event;
    std::map<std::string, std::string> fields;
    std::string operator[](const std::string& key) const {
        const auto found = fields.find(key);
        return found != fields.end() ? found->second : std::string();
    }
    long long t() const { return std::stoll((*this)["t"]); }  // the simulator's clock, in ms
};

// A run of the firmware simulator in a folder: its scenario, the feature's state and its call log. The
// scenario is named to the simulator through the environment, which programs started later inherit.
class SimRun {
public:
    explicit SimRun(const std::wstring& runFolder) : folder(runFolder) {
        ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", (folder + L"\\scenario.ini").c_str());
    }

    // Writes the scenario: keys of its [Scenario] section as "Key=Value" lines separated by ';'.
    void Scenario(const std::string& keys) const {
        const std::string at(folder.begin(), folder.end());
        std::string text = "[Scenario]\r\nLog=" + at + "\\sim.log\r\nState=" + at + "\\state.ini\r\n";
        std::istringstream lines(keys);
        for (std::string line; std::getline(lines, line, ';');) text += line + "\r\n";
        WriteFileBytes(folder + L"\\scenario.ini", text);
    }

    std::vector<SimLogEntry> Log(const std::string& event = "") const {
        std::vector<SimLogEntry> entries;
        std::istringstream lines(ReadFileBytes(folder + L"\\sim.log"));
        for (std::string line; std::getline(lines, line);) {
            SimLogEntry entry;
            std::istringstream fields(line);
            for (std::string field; std::getline(fields, field, '\t');) {
                const size_t equals = field.find('=');
                if (equals == std::string::npos) entry.event = field;
                else entry.fields[field.substr(0, equals)] = field.substr(equals + 1);
            }
            if (event.empty() || entry.event == event) entries.push_back(entry);
        }
        return entries;
    }

    // The control values that device_ctrl was executed with, in order: a call puts its ctrl_param once, then
    // executes, more than once when an attempt fails.
    std::vector<int> ControlValues() const {
        std::vector<int> values;
        std::string pending;
        for (const SimLogEntry& entry : Log()) {
            if (entry.event == "Put" && entry["name"] == "ctrl_param") pending = entry["value"];
            if (entry.event == "ExecMethod" && entry["method"] == "device_ctrl" && !pending.empty())
                values.push_back(std::stoi(pending)), pending.clear();
        }
        return values;
    }

    const std::wstring folder;
};

// The calls on WMI's proxies (the namespace, enumerators, call results) that were not preceded by a blanket
// for their object in the caller's apartment (packet privacy, impersonation, NTLM, as Windows' WMI clients
// set it), one line each; empty when every proxy got its blanket before its first call. A blanket that the
// simulator refused still counts: the program must go on without it.
inline std::string ProxyCallsWithoutBlanket(const std::vector<SimLogEntry>& log) {
    std::map<std::string, std::string> blanketed;  // object -> apartments where it got one
    std::string problems;
    for (const SimLogEntry& line : log) {
        const std::string where = line["this"] + "@" + line["apt"];
        if (line.event == "SetBlanket") {
            blanketed[where] = "yes";
            if (!line["level"].empty() &&
                line["authn"] + " " + line["authz"] + " " + line["principal"] + " " + line["level"] + " " + line["imp"] +
                        " " + line["identity"] + " " + line["caps"] != "10 0 <null> 6 3 <null> 0x0")
                problems += "a blanket of other values on " + where + "\n";
        } else if ((line.event == "ExecQuery" || line.event == "GetObject" || line.event == "ExecMethod" ||
                    line.event == "Next" || line.event == "GetResultObject") && blanketed.count(where) == 0) {
            problems += line.event + " on " + where + " before its blanket\n";
        }
    }
    return problems;
}

// The stored mode: its registry type and bytes (REG_NONE: no value), under the key the tool keeps it in.
struct Stored {
    DWORD type;
    std::string bytes;
    bool operator==(const Stored& other) const { return type == other.type && bytes == other.bytes; }
};
constexpr wchar_t kStoredKey[] = L"Software\\Tolvek\\Quenby", kStoredValue[] = L"PelloranMode";

inline Stored Dword(DWORD value) { return {REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value))}; }

inline Stored ReadStored() {
    Stored stored{REG_NONE, std::string(64, '\0')};
    DWORD size = 64;
    if (::RegGetValueW(HKEY_CURRENT_USER, kStoredKey, kStoredValue, RRF_RT_ANY | RRF_NOEXPAND, &stored.type,
                       &stored.bytes[0], &size) != ERROR_SUCCESS)
        return {REG_NONE, ""};
    stored.bytes.resize(size);
    return stored;
}

// Stores a value (REG_NONE: removes the key).
inline void Store(const Stored& value) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kStoredKey);
    if (value.type != REG_NONE)
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kStoredKey, kStoredValue, value.type, value.bytes.data(), DWORD(value.bytes.size()));
}

// Removes the key's parent, and with blocked makes it anew volatile: no lasting key can be created below it.
inline void BlockStoredKey(bool blocked) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tolvek");
    HKEY parent = nullptr;
    if (blocked && ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tolvek", 0, nullptr, REG_OPTION_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &parent, nullptr) == ERROR_SUCCESS)
        ::RegCloseKey(parent);
}

// A started copy of the tool; it is ended, if it still runs, when the object goes.
class ToolProcess {
public:
    explicit ToolProcess(const std::wstring& exePath) {
        STARTUPINFOW startup{sizeof(startup)};
        std::wstring commandLine = L"\"" + exePath + L"\"";
        if (!::CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &m_info))
            m_info = {};
    }
    ~ToolProcess() {
        if (m_info.hProcess == nullptr) return;
        ::TerminateProcess(m_info.hProcess, 1);  // one that still runs
        ::WaitForSingleObject(m_info.hProcess, INFINITE);
        ::CloseHandle(m_info.hThread);
        ::CloseHandle(m_info.hProcess);
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
    DWORD pid() const { return m_info.dwProcessId; }

    // Waits for the end of the process; its exit code, or STILL_ACTIVE after the time-out.
    DWORD WaitForExit(DWORD timeoutMs = 30000) const {
        DWORD code = STILL_ACTIVE;
        if (m_info.hProcess != nullptr && ::WaitForSingleObject(m_info.hProcess, timeoutMs) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION m_info{};
};

// While it lives, every Pelloran.exe that starts on this desktop finds its user-interface thread already in
// a single-threaded apartment, as an input method or a text service may leave it.
class ApartmentAlreadyJoined {
public:
    ApartmentAlreadyJoined() : m_module(::LoadLibraryW(WinPath(PELLORAN_HOOK_PATH).c_str())) {
        const auto hook = reinterpret_cast<HOOKPROC>(
            reinterpret_cast<void*>(::GetProcAddress(m_module, "PelloranApartmentHook")));
        if (hook != nullptr) m_hook = ::SetWindowsHookExW(WH_CBT, hook, m_module, 0 /* every thread */);
    }
    ~ApartmentAlreadyJoined() {
        if (m_hook != nullptr) ::UnhookWindowsHookEx(m_hook);
        if (m_module != nullptr) ::FreeLibrary(m_module);
    }
    ApartmentAlreadyJoined(const ApartmentAlreadyJoined&) = delete;
    ApartmentAlreadyJoined& operator=(const ApartmentAlreadyJoined&) = delete;
    bool active() const { return m_hook != nullptr; }

private:
    HMODULE m_module;
    HHOOK m_hook = nullptr;
};

// What a console program run to its end wrote, and its exit code (STILL_ACTIVE when it had to be ended).
struct Captured {
    DWORD exit = STILL_ACTIVE;
    std::string out, err;
};

// Runs a command line with its output going to files in the folder; waits up to the time-out for its end.
inline Captured RunCaptured(std::wstring commandLine, const std::wstring& folder, DWORD timeoutMs = 64000) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const std::wstring outPath = folder + L"\\out.txt", errPath = folder + L"\\err.txt";
    HANDLE out = ::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = ::CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{sizeof(startup)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    Captured captured;
    if (::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                         &process)) {
        if (::WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) ::TerminateProcess(process.hProcess, STILL_ACTIVE);
        ::GetExitCodeProcess(process.hProcess, &captured.exit);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(out);
    ::CloseHandle(err);
    captured.out = ReadFileBytes(outPath);
    captured.err = ReadFileBytes(errPath);
    return captured;
}

// A text of a file's version block, from the string table its translation names ("CompanyName", ...).
inline std::wstring VersionText(const std::wstring& file, const std::wstring& key) {
    std::string block(::GetFileVersionInfoSizeW(file.c_str(), nullptr), '\0');
    const WORD* translation = nullptr;
    const wchar_t* text = nullptr;
    UINT size = 0;
    if (block.empty() || !::GetFileVersionInfoW(file.c_str(), 0, DWORD(block.size()), &block[0]) ||
        !::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void**)&translation, &size) || size < 4)
        return L"";
    wchar_t path[128];
    std::swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], key.c_str());
    return ::VerQueryValueW(block.data(), path, (void**)&text, &size) && text != nullptr ? text : L"";
}

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
