// How long Pelloran.exe takes from its start until its dialog is on the screen with the firmware's
// state, beside a bare dialog program with the same resources, alternating the two, in one run.
//   pelloran_bench_startup <Pelloran.exe> <reference.exe> [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

double NowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
    const double start = NowMs();
    if (!::CreateProcessW(exe, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    Search search{process.dwProcessId, nullptr};
    while (search.found == nullptr && NowMs() - start < 20000) {
        ::EnumWindows(&FindVisibleDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) ::Sleep(1);
    }
    const double took = NowMs() - start;
    if (search.found != nullptr) ::PostMessageW(search.found, WM_COMMAND, IDCANCEL, 0);
    if (::WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) ::TerminateProcess(process.hProcess, 1);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return search.found != nullptr ? took : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pelloran_bench_startup <Pelloran.exe> <reference.exe> [runs]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, _wtoi(argv[3])) : 40;
    std::vector<double> tool, reference, ratios;
    TimeToDialog(argv[1]);  // warm both up once: the first start of a program under Wine loads more
    TimeToDialog(argv[2]);
    for (int i = 0; i < runs; ++i) {
        const double t = TimeToDialog(argv[1]);
        const double r = TimeToDialog(argv[2]);
        if (t < 0 || r < 0) {
            std::fprintf(stderr, "a dialog did not show\n");
            return 1;
        }
        tool.push_back(t);
        reference.push_back(r);
        ratios.push_back(t / r);
    }
    std::printf("start-up until the dialog shows, %d alternating runs each, medians:\n", runs);
    std::printf("  Pelloran.exe (language file, WMI, firmware status): %8.1f ms\n", Median(tool));
    std::printf("  bare dialog with the same resources:                %8.1f ms\n", Median(reference));
    std::printf("  ratio Pelloran / bare:                              %8.2f (median of the runs' ratios)\n",
                Median(ratios));
    return 0;
}
