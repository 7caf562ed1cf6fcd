#include "workersleep.h"

#include <thread>

void workerSleepUntil(std::chrono::steady_clock::time_point deadline) {
    std::this_thread::sleep_until(deadline);
}

std::chrono::steady_clock::time_point workerNow() {
    return std::chrono::steady_clock::now();
}
