#pragma once

#include <chrono>

// The worker's clock. Both functions have a translation unit of their own so
// that a program may link its own definitions of the pair instead: the upgrade
// fuzzer counts waits rather than sleeping, and a test can let a device's
// minutes pass at once.

// Sleeps the calling thread until deadline, to the exact end (whole
// milliseconds would add up over thousands of blocks).
void workerSleepUntil(std::chrono::steady_clock::time_point deadline);
// The time that workerSleepUntil sleeps towards: the monotonic clock.
std::chrono::steady_clock::time_point workerNow();
