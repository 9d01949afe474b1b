// Test helpers around the firmware simulator.
#include "tests/sim/SimHarness.h"

#include <fstream>
#include <sstream>

namespace {

constexpr DWORD kDebugPrint = 0x40010006;      // DBG_PRINTEXCEPTION_C: the text as narrow characters
constexpr DWORD kDebugPrintWide = 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C: the text as wide characters

std::vector<std::string>* g_captured = nullptr;
std::string g_lastWide;  // a wide text is raised again as narrow text when nobody takes it

// Narrow (UTF-8) text of a wide string.
std::string Narrow(const std::wstring& text) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
    if (bytes > 1) ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}

// Wide text of a UTF-8 string.
std::wstring Wide(const std::string& text) {
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(chars > 0 ? chars - 1 : 0), L'\0');
    if (chars > 1) ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], chars);
    return wide;
}

// Records the text of a debug-output exception and lets it go on to its default handling.
// GoogleTest's own failure reports, which end with a line break, are left out.
LONG CALLBACK CaptureDebugOutput(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (g_captured == nullptr || record.NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    if (record.ExceptionCode == kDebugPrintWide) {
        g_lastWide = Narrow(reinterpret_cast<const wchar_t*>(record.ExceptionInformation[1]));
        if (g_lastWide.find('\n') == std::string::npos) g_captured->push_back(g_lastWide);
    } else if (record.ExceptionCode == kDebugPrint) {
        const std::string text(reinterpret_cast<const char*>(record.ExceptionInformation[1]));
        if (text != g_lastWide && text.find('\n') == std::string::npos) g_captured->push_back(text);
        g_lastWide.clear();
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Writes a scenario file as UTF-16LE with a byte-order mark, as the profile functions read it everywhere.
void WriteUtf16File(const std::wstring& path, const std::wstring& text) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr /* default security */, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr /* no template */);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::wstring content = L"\xFEFF" + text;
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size() * sizeof(wchar_t)), &written,
                nullptr /* not overlapped */);
    ::CloseHandle(file);
}

// The whole content of a file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(Narrow(path), std::ios::binary);  // an ASCII path: the temporary folder of the prefix
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace

std::string SimLogEntry::operator[](const std::string& key) const {
    const auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

SimScenarioFile::SimScenarioFile(const SimKeys& keys) {
    static LONG serial = 0;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    m_folder = std::wstring(temp) + L"PelloranSim-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               std::to_wstring(::InterlockedIncrement(&serial));
    ::CreateDirectoryW(m_folder.c_str(), nullptr /* default security */);
    m_scenario = m_folder + L"\\scenario.ini";
    m_state = m_folder + L"\\state.ini";
    m_log = m_folder + L"\\calls.log";
    ::DeleteFileW(m_state.c_str());
    ::DeleteFileW(m_log.c_str());

    std::wstring text = L"[Scenario]\r\nLog=" + m_log + L"\r\nState=" + m_state + L"\r\n";
    for (const auto& key : keys) text += Wide(key.first) + L"=" + Wide(key.second) + L"\r\n";
    WriteUtf16File(m_scenario, text);
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", m_scenario.c_str());
}

SimScenarioFile::~SimScenarioFile() {
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", nullptr);
    for (const std::wstring* file : {&m_scenario, &m_state, &m_log}) ::DeleteFileW(file->c_str());
    ::RemoveDirectoryW(m_folder.c_str());
}

std::vector<SimLogEntry> SimScenarioFile::Log() const {
    std::vector<SimLogEntry> entries;
    std::istringstream lines(ReadFileBytes(m_log));
    std::string line;
    while (std::getline(lines, line)) {
        SimLogEntry entry;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) {
            const size_t equals = field.find('=');
            if (equals == std::string::npos)
                entry.event = field;
            else
                entry.fields[field.substr(0, equals)] = field.substr(equals + 1);
        }
        entry.t = std::atoll(entry["t"].c_str());
        entries.push_back(entry);
    }
    return entries;
}

std::vector<SimLogEntry> SimScenarioFile::Log(const std::string& event) const {
    std::vector<SimLogEntry> matching;
    for (const SimLogEntry& entry : Log())
        if (entry.event == event) matching.push_back(entry);
    return matching;
}

std::string SimScenarioFile::StateText() const { return ReadFileBytes(m_state); }

LONG SimLiveObjects() {
    const HMODULE sim = ::GetModuleHandleW(L"PelloranSim.dll");
    if (sim == nullptr) return -1;
    using LiveObjects = LONG(WINAPI*)();
    const auto liveObjects = reinterpret_cast<LiveObjects>(::GetProcAddress(sim, "PelloranSimLiveObjects"));
    return liveObjects != nullptr ? liveObjects() : -1;
}

DebugOutputCapture::DebugOutputCapture() {
    g_captured = new std::vector<std::string>();
    m_handler = ::AddVectoredExceptionHandler(1 /* first */, CaptureDebugOutput);
}

DebugOutputCapture::~DebugOutputCapture() {
    ::RemoveVectoredExceptionHandler(m_handler);
    delete g_captured;
    g_captured = nullptr;
}

const std::vector<std::string>& DebugOutputCapture::texts() const { return *g_captured; }

long long NowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return counter.QuadPart / (frequency.QuadPart / 1000);
}
