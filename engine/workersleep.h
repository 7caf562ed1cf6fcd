#pragma once

#include <chrono>

// Sleeps the calling thread until deadline on the monotonic clock, to the
// exact end (whole milliseconds would add up over thousands of blocks). It
// has a translation unit of its own so that a program may link its own
// definition instead: the upgrade fuzzer counts waits rather than sleeping.
void workerSleepUntil(std::chrono::steady_clock::time_point deadline);
