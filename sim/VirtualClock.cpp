#include "sim/VirtualClock.h"

#include <climits>

VirtualClock::VirtualClock()
    : m_sleeping(::CreateEventW(nullptr, FALSE, FALSE, nullptr)), m_client(::GetCurrentThreadId()), m_now(::GetTickCount64()) {}

ULONGLONG VirtualClock::NowMs() {
    ::AcquireSRWLockShared(&m_lock);
    const ULONGLONG now = m_now;
    ::ReleaseSRWLockShared(&m_lock);
    return now;
}

void VirtualClock::MoveTo(ULONGLONG t) {
    if (t <= m_now) return;
    m_now = t;
    ::WakeAllConditionVariable(&m_moved);
}

void VirtualClock::Sleep(DWORD ms) {
    if (::GetCurrentThreadId() != m_client) return WaitOut(Begin(ms));
    if (ms == INFINITE) ::Sleep(INFINITE);  // as in real time: nothing ends it
    ::AcquireSRWLockExclusive(&m_lock);
    MoveTo(m_now + ms);
    ::ReleaseSRWLockExclusive(&m_lock);
}

VirtualClock::Stall VirtualClock::Begin(DWORD ms) {
    ::AcquireSRWLockExclusive(&m_lock);
    const ULONGLONG end = ms == INFINITE ? ULLONG_MAX : m_now + ms;
    const Stall stall{end, m_stalls.insert(end), m_generation};
    ::ReleaseSRWLockExclusive(&m_lock);
    ::SetEvent(m_sleeping);
    return stall;
}

void VirtualClock::WaitOut(const Stall& stall) {
    ::AcquireSRWLockExclusive(&m_lock);
    while (m_now < stall.end) ::SleepConditionVariableSRW(&m_moved, &m_lock, INFINITE, 0);
    if (stall.generation == m_generation) m_stalls.erase(stall.at);
    ::ReleaseSRWLockExclusive(&m_lock);
}

bool VirtualClock::Wait(HANDLE handle, DWORD timeoutMs) {
    if (timeoutMs == INFINITE) return ::WaitForSingleObject(handle, INFINITE) == WAIT_OBJECT_0;
    const ULONGLONG deadline = NowMs() + timeoutMs;
    for (;;) {
        if (::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) return true;
        ::AcquireSRWLockExclusive(&m_lock);
        const bool stalled = !m_stalls.empty();
        const ULONGLONG next = stalled ? *m_stalls.begin() : 0;
        if (stalled) MoveTo(next < deadline ? next : deadline);
        const ULONGLONG now = m_now;
        ::ReleaseSRWLockExclusive(&m_lock);
        if (stalled && next >= deadline) return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
        if (now >= deadline) return false;
        // A stall that ended runs on, or nothing is stalled: wait for the handle or the next stall in real time,
        // no longer than the time left.
        const HANDLE handles[] = {handle, m_sleeping};
        const ULONGLONG left = deadline - now;
        const ULONGLONG started = ::GetTickCount64();
        const DWORD woken = ::WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(left));
        if (woken == WAIT_OBJECT_0) return true;
        if (woken != WAIT_OBJECT_0 + 1) {
            ::AcquireSRWLockExclusive(&m_lock);
            MoveTo(now + (::GetTickCount64() - started));
            ::ReleaseSRWLockExclusive(&m_lock);
            if (NowMs() >= deadline) return false;
        }
    }
}

void VirtualClock::Forget() {
    ::AcquireSRWLockExclusive(&m_lock);
    m_stalls.clear();
    ++m_generation;
    ::ReleaseSRWLockExclusive(&m_lock);
}

VirtualClock* SimVirtualClock() {
    using Exported = VirtualClock* (*)();
    static const auto exported =
        reinterpret_cast<Exported>(::GetProcAddress(::GetModuleHandleW(nullptr), "PelloranVirtualClock"));
    return exported != nullptr ? exported() : nullptr;
}
