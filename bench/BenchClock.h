// The benchmarks' one clock: seconds of the performance counter, which is monotonic.
#pragma once

#include <windows.h>

inline double NowSeconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}
