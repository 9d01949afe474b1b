// How long Pelloran.exe takes from its start until its dialog is on the screen with the firmware's
// state, beside two references, taking turns in one run: a bare dialog program with the same resources,
// and the same dialog that first makes the COM set-up, WMI connection and query that any program asking
// the firmware must make. In the same turns, a fresh process times each step of the tool's start-up.
//   pelloran_bench_startup <Pelloran.exe> <bare.exe> <bare+WMI.exe> <steps.exe> <language file> [runs]
#include "sim/MonotonicClock.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The median and the quartiles of a sample.
struct Spread {
    double low, median, high;
};

Spread SpreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return {values[n / 4], values[n / 2], values[(3 * n) / 4]};
}

struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindVisibleDialog(HWND hwnd, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner != search->pid || !::IsWindowVisible(hwnd) || ::GetDlgItem(hwnd, 1002) == nullptr) return TRUE;
    search->found = hwnd;
    return FALSE;
}

// Milliseconds from CreateProcess until the program's dialog is visible; the program is then closed
// and waited for. A negative result when the dialog never showed.
double TimeToDialog(const wchar_t* exe) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    wchar_t commandLine[MAX_PATH + 2];
    std::swprintf(commandLine, MAX_PATH + 2, L"\"%ls\"", exe);
    const double start = NowSeconds();
    if (!::CreateProcessW(exe, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    Search search{process.dwProcessId, nullptr};
    while (search.found == nullptr && NowSeconds() - start < 20) {
        ::EnumWindows(&FindVisibleDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) ::Sleep(1);
    }
    const double took = 1000.0 * (NowSeconds() - start);
    if (search.found != nullptr) ::PostMessageW(search.found, WM_COMMAND, IDCANCEL, 0);
    if (::WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) ::TerminateProcess(process.hProcess, 1);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return search.found != nullptr ? took : -1;
}

// Runs the step timer once; the microseconds of its steps, empty when it failed.
std::vector<double> TimeSteps(const wchar_t* exe, const wchar_t* languageFile) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {};
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + std::wstring(exe) + L"\" \"" + languageFile + L"\"";
    const BOOL started = ::CreateProcessW(exe, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                          &startup, &process);
    ::CloseHandle(writeEnd);
    std::string output;
    char chunk[512];
    DWORD got = 0;
    while (started && ::ReadFile(readEnd, chunk, sizeof(chunk), &got, nullptr) && got > 0) output.append(chunk, got);
    ::CloseHandle(readEnd);
    if (!started) return {};
    ::WaitForSingleObject(process.hProcess, 20000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    std::vector<double> steps;
    const char* p = output.c_str();
    for (char* end = nullptr;; p = end) {
        const double value = std::strtod(p, &end);
        if (end == p) break;
        steps.push_back(value);
    }
    return steps;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: pelloran_bench_startup <Pelloran.exe> <bare.exe> <bare+WMI.exe> <steps.exe> "
                             "<language file> [runs]\n");
        return 2;
    }
    const int runs = argc > 6 ? std::max(4, _wtoi(argv[6])) : 40;
    const wchar_t* const programs[] = {argv[1], argv[2], argv[3]};
    constexpr int kPrograms = 3;
    std::vector<double> times[kPrograms], toFloor, toBare;
    const char* const stepNames[] = {"COM set-up (CoInitializeEx)", "security (CoInitializeSecurity)",
                                     "client record",               "locator and connection (worker thread)",
                                     "query (ExecQuery, Next)",     "status call (device_status)",
                                     "language file (19 texts)",    "registry (stored mode read, written)"};
    constexpr size_t kSteps = sizeof(stepNames) / sizeof(stepNames[0]);
    std::vector<double> steps[kSteps];

    for (const wchar_t* program : programs) TimeToDialog(program);  // the first start under Wine loads more
    for (int i = 0; i < runs; ++i) {
        double t[kPrograms];
        for (int k = 0; k < kPrograms; ++k) {
            // Each turn starts with another program, so that none always follows the same one.
            const int p = (i + k) % kPrograms;
            t[p] = TimeToDialog(programs[p]);
            if (t[p] < 0) {
                std::fprintf(stderr, "a dialog did not show: %ls\n", programs[p]);
                return 1;
            }
        }
        for (int p = 0; p < kPrograms; ++p) times[p].push_back(t[p]);
        toFloor.push_back(t[0] / t[2]);
        toBare.push_back(t[0] / t[1]);
        const std::vector<double> measured = TimeSteps(argv[4], argv[5]);
        for (size_t s = 0; s < kSteps && s < measured.size(); ++s) steps[s].push_back(measured[s]);
    }

    const char* const names[] = {"Pelloran.exe (language file, WMI, firmware status)",
                                 "bare dialog with the same resources",
                                 "bare dialog + COM set-up, WMI connection, query"};
    std::printf("start-up until the dialog shows, %d runs each taking turns: median [quartiles]\n", runs);
    for (int p = 0; p < kPrograms; ++p) {
        const Spread s = SpreadOf(times[p]);
        std::printf("  %-52s %7.1f ms [%6.1f, %6.1f]\n", names[p], s.median, s.low, s.high);
    }
    const Spread floor = SpreadOf(toFloor), bare = SpreadOf(toBare);
    std::printf("  %-52s %7.3f    [%6.3f, %6.3f]\n", "ratio Pelloran / (bare + WMI), per turn", floor.median,
                floor.low, floor.high);
    std::printf("  %-52s %7.3f    [%6.3f, %6.3f]\n", "ratio Pelloran / bare, per turn", bare.median, bare.low,
                bare.high);
    if (!steps[0].empty()) {
        std::printf("the tool's start-up steps in a fresh process, %u runs: median [quartiles]\n",
                    static_cast<unsigned>(steps[0].size()));
        for (size_t s = 0; s < kSteps; ++s) {
            const Spread spread = SpreadOf(steps[s]);
            std::printf("  %-52s %7.2f ms [%6.2f, %6.2f]\n", stepNames[s], spread.median / 1000, spread.low / 1000,
                        spread.high / 1000);
        }
    }
    return 0;
}
