// A plain sleep on Windows ends on a tick of the system timer, every 15.6 ms
// unless some program asks for finer: each poll wait of a few milliseconds
// would take 15.6, and a write of many blocks several times as long as the
// device needs. A high-resolution waitable
// timer (Windows 10 1803 and later) wakes when asked without changing the
// system's timer; before that, the timer's period is raised to 1 ms for the
// worker thread's life, that is for one transfer.
#include "precisesleep.h"

#include <windows.h>

#include <thread>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// One per thread: a waitable timer belongs to the thread that waits on it.
struct PreciseWait {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    bool periodRaised = false;

    ~PreciseWait() {
        if (timer)
            CloseHandle(timer);
        if (periodRaised)
            timeEndPeriod(1);
    }

    // False when the system has no high-resolution timer or the wait failed;
    // the caller then sleeps the ordinary way.
    bool until(std::chrono::steady_clock::time_point deadline) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (!timer || left <= left.zero())
            return timer != nullptr;
        LARGE_INTEGER due;
        // Negative: relative, in units of 100 ns.
        due.QuadPart = -std::chrono::duration_cast<std::chrono::nanoseconds>(left).count() / 100;
        return SetWaitableTimerEx(timer, &due, 0, nullptr, nullptr, nullptr, 0) &&
               WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0;
    }
};

} // namespace

namespace platform {

void sleepUntil(std::chrono::steady_clock::time_point deadline) {
    thread_local PreciseWait wait;
    if (!wait.until(deadline) && !wait.periodRaised)
        wait.periodRaised = timeBeginPeriod(1) == TIMERR_NOERROR;
    // What is left after the timer (it may wake a hair early) or without it.
    std::this_thread::sleep_until(deadline);
}

} // namespace platform
