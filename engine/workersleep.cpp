#include "workersleep.h"

#include <thread>

void workerSleepUntil(std::chrono::steady_clock::time_point deadline) {
    std::this_thread::sleep_until(deadline);
}
