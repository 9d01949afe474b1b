// The machine's monotonic clock, the performance counter: the simulator stamps its log with it and the benchmarks
// time with it. Readings are comparable between processes.
#pragma once

#include <windows.h>

inline double NowSeconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline long long NowMs() { return static_cast<long long>(NowSeconds() * 1000.0); }
