#include "tests/support/TestSupport.h"

#include "res/resource.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace {

constexpr wchar_t kStoredKey[] = L"Software\\Tolvek\\Quenby";
constexpr wchar_t kStoredKeyParent[] = L"Software\\Tolvek";
constexpr wchar_t kStoredValue[] = L"PelloranMode";

}  // namespace

std::wstring WinPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p != '\0'; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

std::string Utf16File(const std::wstring& text) {
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::wstring FreshFolder(const std::string& name) {
    const std::wstring folder = WinPath((PELLORAN_BINARY_DIR "/testfiles/" + name).c_str());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::string SimLogEntry::operator[](const std::string& key) const {
    const auto found = fields.find(key);
    return found != fields.end() ? found->second : std::string();
}

SimRun::SimRun(const std::wstring& runFolder) : folder(runFolder) {
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", (folder + L"\\scenario.ini").c_str());
}

void SimRun::Scenario(const std::string& keys) const {
    std::string text = "[Scenario]\r\nLog=" + std::string(folder.begin(), folder.end()) + "\\sim.log\r\nState=" +
                       std::string(folder.begin(), folder.end()) + "\\state.ini\r\n";
    std::istringstream lines(keys);
    for (std::string line; std::getline(lines, line, ';');) text += line + "\r\n";
    WriteFileBytes(folder + L"\\scenario.ini", text);
}

std::vector<SimLogEntry> SimRun::Log(const std::string& event) const {
    std::vector<SimLogEntry> entries;
    std::istringstream lines(ReadFileBytes(folder + L"\\sim.log"));
    for (std::string line; std::getline(lines, line);) {
        SimLogEntry entry;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) {
            const size_t equals = field.find('=');
            if (equals == std::string::npos)
                entry.event = field;
            else
                entry.fields[field.substr(0, equals)] = field.substr(equals + 1);
        }
        if (event.empty() || entry.event == event) entries.push_back(entry);
    }
    return entries;
}

std::vector<int> SimRun::ControlValues() const {
    // A call puts its ctrl_param once, then executes, more than once when an attempt fails.
    std::vector<int> values;
    std::string pending;
    for (const SimLogEntry& entry : Log()) {
        if (entry.event == "Put" && entry["name"] == "ctrl_param") pending = entry["value"];
        if (entry.event == "ExecMethod" && entry["method"] == "device_ctrl" && !pending.empty()) {
            values.push_back(std::stoi(pending));
            pending.clear();
        }
    }
    return values;
}

Stored Dword(DWORD value) { return {REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value))}; }

Stored ReadStored() {
    Stored stored{REG_NONE, std::string(64, '\0')};
    DWORD size = 64;
    if (::RegGetValueW(HKEY_CURRENT_USER, kStoredKey, kStoredValue, RRF_RT_ANY | RRF_NOEXPAND, &stored.type,
                       &stored.bytes[0], &size) != ERROR_SUCCESS)
        return {REG_NONE, ""};
    stored.bytes.resize(size);
    return stored;
}

void Store(const Stored& value) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kStoredKey);
    if (value.type != REG_NONE)
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kStoredKey, kStoredValue, value.type, value.bytes.data(),
                          static_cast<DWORD>(value.bytes.size()));
}

void BlockStoredKey(bool blocked) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kStoredKeyParent);
    HKEY parent = nullptr;  // under a volatile key no lasting key can be created
    if (blocked && ::RegCreateKeyExW(HKEY_CURRENT_USER, kStoredKeyParent, 0, nullptr, REG_OPTION_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &parent, nullptr) == ERROR_SUCCESS)
        ::RegCloseKey(parent);
}

ToolProcess::ToolProcess(const std::wstring& exePath) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!::CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &m_info))
        m_info = {};
}

ToolProcess::~ToolProcess() {
    if (m_info.hProcess == nullptr) return;
    ::TerminateProcess(m_info.hProcess, 1);  // one that still runs
    ::WaitForSingleObject(m_info.hProcess, INFINITE);
    ::CloseHandle(m_info.hThread);
    ::CloseHandle(m_info.hProcess);
}

DWORD ToolProcess::WaitForExit(DWORD timeoutMs) const {
    DWORD code = STILL_ACTIVE;
    if (m_info.hProcess != nullptr && ::WaitForSingleObject(m_info.hProcess, timeoutMs) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(m_info.hProcess, &code);
    return code;
}

std::wstring TextOf(HWND hwnd) {
    static wchar_t text[8192];
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 30000, &length))
        return L"<no answer>";
    return std::wstring(text, length);
}

namespace {

struct Search {
    DWORD pid;
    bool (*test)(HWND);
    HWND found;
};

BOOL CALLBACK Visit(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if ((search->pid == 0 || owner == search->pid) && ::IsWindowVisible(hwnd) && search->test(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool IsDialog(HWND hwnd) {
    wchar_t name[16] = {};
    return ::GetClassNameW(hwnd, name, 16) > 0 && std::wstring(name) == L"#32770";
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    for (DWORD waited = 0; waited <= timeoutMs; waited += 5) {
        if (condition()) return true;
        ::Sleep(5);
    }
    return false;
}

HWND WaitForWindow(DWORD pid, bool (*test)(HWND), DWORD timeoutMs) {
    Search search{pid, test, nullptr};
    WaitUntil([&] { return ::EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search)), search.found != nullptr; },
              timeoutMs);
    return search.found;
}

bool IsSettingsDialog(HWND hwnd) {
    return IsDialog(hwnd) && ::GetDlgItem(hwnd, IDC_ENABLE) != nullptr && TextOf(hwnd) == L"Pelloran";
}

bool IsMessageBox(HWND hwnd) { return IsDialog(hwnd) && ::GetDlgItem(hwnd, 0xFFFF) != nullptr; }

ControlState StateOf(HWND dialog, int controlId) {
    HWND control = ::GetDlgItem(dialog, controlId);
    DWORD_PTR check = 0;
    ::SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_NORMAL, 30000, &check);
    return {TextOf(control), ::IsWindowEnabled(control) != FALSE, check == BST_CHECKED};
}

void Click(HWND dialog, int controlId) {
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(::GetDlgItem(dialog, controlId), BM_CLICK, 0, 0, SMTO_NORMAL, 60000, &ignored);
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
