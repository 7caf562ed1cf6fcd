#include "workersleep.h"

#include "precisesleep.h"

void workerSleepUntil(std::chrono::steady_clock::time_point deadline) {
    platform::sleepUntil(deadline);
}

std::chrono::steady_clock::time_point workerNow() {
    return std::chrono::steady_clock::now();
}
