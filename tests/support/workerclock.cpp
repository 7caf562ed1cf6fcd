#include "workerclock.h"

#include "workersleep.h"

#include <atomic>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
std::atomic<bool> skipping{false};
std::atomic<Clock::rep> skipped{0};
} // namespace

void skipWorkerWaits(bool skip) {
    skipping = skip;
}

void spendWorkerTime(std::chrono::microseconds spent) {
    skipped += std::chrono::duration_cast<Clock::duration>(spent).count();
}

Clock::time_point workerNow() {
    return Clock::now() + Clock::duration(skipped.load());
}

void workerSleepUntil(Clock::time_point deadline) {
    if (!skipping) {
        std::this_thread::sleep_until(deadline - Clock::duration(skipped.load()));
        return;
    }
    const Clock::duration ahead = deadline - workerNow();
    if (ahead.count() > 0)
        skipped += ahead.count();
}
