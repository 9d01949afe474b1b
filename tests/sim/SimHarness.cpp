// Test helpers around the firmware simulator.
#include "tests/sim/SimHarness.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::vector<std::string>* g_captured = nullptr;

// Records the text of a debug-output exception and lets it go on to its default handling. A wide text
// is always raised again as narrow text, so the narrow one is enough. GoogleTest's own failure reports,
// which end with a line break, are left out.
LONG CALLBACK CaptureDebugOutput(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (g_captured != nullptr && record.ExceptionCode == 0x40010006 /* DBG_PRINTEXCEPTION_C */ &&
        record.NumberParameters >= 2) {
        const std::string text(reinterpret_cast<const char*>(record.ExceptionInformation[1]));
        if (text.find('\n') == std::string::npos) g_captured->push_back(text);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

SimScenarioFile::SimScenarioFile(const SimKeys& keys) {
    static LONG serial = 0;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    m_folder = std::wstring(temp) + L"PelloranSim-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               std::to_wstring(::InterlockedIncrement(&serial));
    std::filesystem::remove_all(m_folder);
    std::filesystem::create_directory(m_folder);
    m_scenario = m_folder + L"\\scenario.ini";
    m_state = m_folder + L"\\state.ini";
    m_log = m_folder + L"\\calls.log";

    // UTF-16LE with a byte-order mark, as the profile functions read it everywhere.
    std::wstring text = L"\xFEFF[Scenario]\r\nLog=" + m_log + L"\r\nState=" + m_state + L"\r\n";
    for (const auto& [key, value] : keys)  // ASCII only
        text += std::wstring(key.begin(), key.end()) + L"=" + std::wstring(value.begin(), value.end()) + L"\r\n";
    std::ofstream(std::filesystem::path(m_scenario), std::ios::binary)
        .write(reinterpret_cast<const char*>(text.data()), std::streamsize(text.size() * sizeof(wchar_t)));
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", m_scenario.c_str());
}

SimScenarioFile::~SimScenarioFile() {
    ::SetEnvironmentVariableW(L"PELLORAN_SIM_SCENARIO", nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

std::vector<SimLogEntry> SimScenarioFile::Log(const std::string& event) const {
    std::vector<SimLogEntry> entries;
    std::ifstream lines(std::filesystem::path(m_log), std::ios::binary);
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
        entry.t = std::atoll(entry["t"].c_str());
        if (event.empty() || entry.event == event) entries.push_back(entry);
    }
    return entries;
}

LONG SimLiveObjects() {
    const HMODULE sim = ::GetModuleHandleW(L"PelloranSim.dll");
    const auto liveObjects =
        sim != nullptr ? reinterpret_cast<LONG(WINAPI*)()>(::GetProcAddress(sim, "PelloranSimLiveObjects")) : nullptr;
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
