// A virtual clock for tests that load the simulator into their own process: the simulator answers a stall by
// moving it on instead of sleeping, so that a 10 s stall costs no wall time. The thread that makes the clock is
// the client, whose bounds the clock serves; the test exports it as PelloranVirtualClock, where the simulator
// looks for it (a program that exports none, the real one among them, runs in real time).
#pragma once

#include "firmware/Clock.h"

#include <set>

class VirtualClock final : public ClockSource {
public:
    VirtualClock();
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    ULONGLONG NowMs() override;
    // The client's pause moves the clock on; another thread's (a simulated stall on a thread of its own) lasts
    // until the client's waits have moved the clock past its end.
    void Sleep(DWORD ms) override;
    // Another thread's stall in two halves: begun by the thread that asks for it (so that it counts from that
    // moment, whenever the stalling thread runs), then waited out by the stalling thread.
    struct Stall {
        ULONGLONG end;
        std::multiset<ULONGLONG>::iterator at;  // valid while the generation is the clock's
        unsigned generation;
    };
    Stall Begin(DWORD ms);
    void WaitOut(const Stall& stall);
    // The client's wait: the time moves on to the next stall's end within the time-out, until the handle is
    // signalled. When no stall is pending, the wait is a real one (whatever runs may still answer).
    bool Wait(HANDLE handle, DWORD timeoutMs) override;
    // Leaves the stalls begun so far out of the waits to come (those of a test's earlier scenario, whose calls
    // were given up); they still end when the clock passes their end.
    void Forget();

private:
    void MoveTo(ULONGLONG t);  // under the lock

    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_moved = CONDITION_VARIABLE_INIT;
    HANDLE m_sleeping;                 // set when another thread begins a stall
    const DWORD m_client;
    ULONGLONG m_now;
    std::multiset<ULONGLONG> m_stalls;  // when the other threads' stalls end (ULLONG_MAX: never), but the forgotten
    unsigned m_generation = 0;          // how many times the stalls were forgotten
};

// The clock the simulator runs by: the test's virtual one, or null for real time.
VirtualClock* SimVirtualClock();
