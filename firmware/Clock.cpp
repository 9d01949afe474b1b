// The machine's clock, unless a test put another in its place.
#include "firmware/Clock.h"

namespace {
ClockSource* g_source = nullptr;
}  // namespace

ULONGLONG ClockNowMs() { return g_source != nullptr ? g_source->NowMs() : ::GetTickCount64(); }

void ClockSleep(DWORD ms) {
    if (g_source != nullptr)
        g_source->Sleep(ms);
    else
        ::Sleep(ms);
}

bool ClockWait(HANDLE handle, DWORD timeoutMs) {
    return g_source != nullptr ? g_source->Wait(handle, timeoutMs) : ::WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0;
}

void SetClockSource(ClockSource* source) { g_source = source; }
