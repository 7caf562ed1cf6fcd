#pragma once
// Sleeping the calling thread to a deadline on the monotonic clock, to the
// exact end: a poll wait of a few milliseconds must not take a timer tick's
// 15.6 ms, which over thousands of blocks would add up.

#include <chrono>

namespace platform {

void sleepUntil(std::chrono::steady_clock::time_point deadline);

} // namespace platform
