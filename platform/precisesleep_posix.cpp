#include "precisesleep.h"

#include <thread>

namespace platform {

// The kernel's timers wake a sleeper when asked.
void sleepUntil(std::chrono::steady_clock::time_point deadline) {
    std::this_thread::sleep_until(deadline);
}

} // namespace platform
