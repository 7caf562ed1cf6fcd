#pragma once
// A test's own definition of the worker's clock (see workersleep.h), linked
// into the test program in place of the engine's: real time, until a test
// lets the worker's waits pass at once, so that a device's minutes cost none.

#include <chrono>

void skipWorkerWaits(bool skip);
// Moves the worker's clock on by spent at once, as a device's transfer time.
void spendWorkerTime(std::chrono::microseconds spent);
