#include "tests/e2e/E2eFixture.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace e2e {

namespace {

constexpr wchar_t kModeKey[] = L"Software\\Tolvek\\Quenby";
constexpr wchar_t kModeValue[] = L"PelloranMode";
constexpr DWORD kWaitMs = 15000;

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot write the test's file";
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::string Narrow(const std::wstring& text) {
    std::string ascii;
    for (wchar_t c : text) ascii += static_cast<char>(c);
    return ascii;
}

void MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    ::CreateDirectoryW(path.c_str(), nullptr);
}

}  // namespace

std::wstring Utf8ToWide(const std::string& text) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

bool StoredMode::IsDword(DWORD value) const {
    DWORD stored = 0;
    if (!present || type != REG_DWORD || data.size() != sizeof(stored)) return false;
    std::memcpy(&stored, data.data(), sizeof(stored));
    return stored == value;
}

void E2eTest::SetUp() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = Utf8ToWide(std::string(info->test_suite_name()) + "." + info->name());
    for (wchar_t& c : name)
        if (c == L'/') c = L'_';
    m_folder = testsupport::WinPath(PELLORAN_BINARY_DIR "/e2e/") + name;
    MakeFolders(m_folder);
    for (const wchar_t* file : {L"\\scenario.ini", L"\\state.ini", L"\\sim.log", L"\\PelloranLang.ini"})
        ::DeleteFileW((m_folder + file).c_str());
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", (m_folder + L"\\scenario.ini").c_str());
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_STATE", (m_folder + L"\\state.ini").c_str());
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_LOG", (m_folder + L"\\sim.log").c_str());
    Scenario({});
    ForgetStoredMode();
    m_exe = testsupport::ToolPath();
}

void E2eTest::TearDown() {
    m_tool.reset();  // a copy still running is ended
}

void E2eTest::Scenario(const std::vector<std::wstring>& lines) {
    std::wstring text = L"[Scenario]\r\n";
    for (const std::wstring& line : lines) text += line + L"\r\n";
    WriteBytes(m_folder + L"\\scenario.ini", Narrow(text));
}

void E2eTest::FirmwareState(DWORD statusWord) {
    char text[64];
    std::snprintf(text, sizeof(text), "[Firmware]\r\nStatusWord=0x%lX\r\n", statusWord);
    WriteBytes(m_folder + L"\\state.ini", text);
}

DWORD E2eTest::FirmwareStateNow() const {
    wchar_t text[64] = {};
    ::GetPrivateProfileStringW(L"Firmware", L"StatusWord", L"", text, 64, (m_folder + L"\\state.ini").c_str());
    return std::wcstoul(text, nullptr, 0);
}

StoredMode E2eTest::ReadStoredMode() {
    StoredMode mode;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kModeKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return mode;
    BYTE data[64];
    DWORD size = sizeof(data);
    if (::RegQueryValueExW(key, kModeValue, nullptr, &mode.type, data, &size) == ERROR_SUCCESS) {
        mode.present = true;
        mode.data.assign(data, data + size);
    }
    ::RegCloseKey(key);
    return mode;
}

void E2eTest::StoreMode(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kModeKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, kModeValue, 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(key);
}

void E2eTest::ForgetStoredMode() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kModeKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    ::RegDeleteValueW(key, kModeValue);
    ::RegCloseKey(key);
}

void E2eTest::UseOwnCopy(const std::string& languageFileBytes) {
    m_exe = m_folder + L"\\Pelloran.exe";
    ASSERT_TRUE(::CopyFileW(testsupport::ToolPath().c_str(), m_exe.c_str(), FALSE));
    if (!languageFileBytes.empty()) WriteLanguageFile(languageFileBytes);
}

void E2eTest::WriteLanguageFile(const std::string& bytes) { WriteBytes(m_folder + L"\\PelloranLang.ini", bytes); }

void E2eTest::Start() {
    m_tool = std::make_unique<testsupport::ToolProcess>(m_exe);
    ASSERT_TRUE(m_tool->started()) << "Pelloran.exe did not start";
}

HWND E2eTest::Dialog() {
    if (m_dialog == nullptr && m_tool) m_dialog = testsupport::WaitForSettingsDialog(m_tool->pid(), kWaitMs);
    EXPECT_NE(m_dialog, nullptr) << "the settings dialog did not appear";
    return m_dialog;
}

DWORD E2eTest::CloseDialog() {
    if (m_dialog != nullptr) ::PostMessageW(m_dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    return m_tool ? m_tool->WaitForExit(kWaitMs) : STILL_ACTIVE;
}

void E2eTest::ExpectFatalMessage(const wchar_t* text, const std::function<void(HWND)>& inspect) {
    ASSERT_TRUE(m_tool);
    HWND box = testsupport::WaitForMessageBox(m_tool->pid(), 20000);
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_EQ(testsupport::TextOf(::GetDlgItem(box, 0xFFFF)), text);
    if (inspect) inspect(box);
    testsupport::Click(box, IDOK);
    EXPECT_EQ(m_tool->WaitForExit(kWaitMs), 0u);
    EXPECT_TRUE(ControlValuesSent().empty());
}

std::vector<LogEntry> E2eTest::Log() const {
    std::vector<LogEntry> entries;
    const std::wstring text = Utf8ToWide(testsupport::ReadFileBytes(m_folder + L"\\sim.log"));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(start, end - start);
        start = end + 1;
        LogEntry entry;
        size_t from = 0;
        while (from <= line.size()) {
            size_t tab = line.find(L'\t', from);
            if (tab == std::wstring::npos) tab = line.size();
            const std::wstring field = line.substr(from, tab - from);
            const size_t eq = field.find(L'=');
            if (eq == std::wstring::npos) {
                if (!field.empty()) entry.event = field;
            } else {
                entry.fields[field.substr(0, eq)] = field.substr(eq + 1);
            }
            from = tab + 1;
        }
        entry.t = std::wcstoll(entry.Field(L"t").c_str(), nullptr, 10);
        if (!entry.event.empty()) entries.push_back(entry);
    }
    return entries;
}

std::vector<int> E2eTest::ControlValuesSent() const {
    // A call puts its ctrl_param once and then executes, perhaps more than once when it fails.
    std::vector<int> values;
    std::wstring pending;
    for (const LogEntry& entry : Log()) {
        if (entry.event == L"Put" && entry.Field(L"name") == L"ctrl_param") pending = entry.Field(L"value");
        if (entry.event == L"ExecMethod" && entry.Field(L"method") == L"device_ctrl" && !pending.empty()) {
            values.push_back(std::stoi(pending));
            pending.clear();
        }
    }
    return values;
}

int E2eTest::StatusReads() const {
    int reads = 0;
    for (const LogEntry& entry : Log())
        if (entry.event == L"ExecMethod" && entry.Field(L"method") == L"device_status") ++reads;
    return reads;
}

std::wstring E2eTest::ShippedText(const wchar_t* section, int key) {
    wchar_t name[8];
    std::swprintf(name, 8, L"S%d", key);
    wchar_t text[1000] = {};
    const std::wstring file = testsupport::WinPath(PELLORAN_BINARY_DIR "/app/PelloranLang.ini");
    ::GetPrivateProfileStringW(section, name, L"", text, 1000, file.c_str());
    return text;
}

}  // namespace e2e
