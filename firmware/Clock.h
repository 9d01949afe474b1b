// The time by which the firmware code bounds its steps: the machine's tick count. A test that runs the
// simulator in its own process may put a virtual clock in its place, so that a simulated stall costs no
// wall time; the program never does.
#pragma once

#include <windows.h>

class ClockSource {
public:
    virtual ULONGLONG NowMs() = 0;
    // A pause of the calling thread (INFINITE: for ever).
    virtual void Sleep(DWORD ms) = 0;
    // Waits for the handle at most timeoutMs (INFINITE: for ever); true when it was signalled in time.
    virtual bool Wait(HANDLE handle, DWORD timeoutMs) = 0;

protected:
    ~ClockSource() = default;
};

ULONGLONG ClockNowMs();
void ClockSleep(DWORD ms);
bool ClockWait(HANDLE handle, DWORD timeoutMs);

// For tests: the clock read from now on, in place of the machine's (nullptr: the machine's again).
void SetClockSource(ClockSource* source);
