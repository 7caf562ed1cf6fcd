#pragma once
// What a benchmark reads about its own process. Linux counts in the kernel's
// accounting (benchprocess_linux.cpp); Windows in the process's own counters
// (benchprocess_windows.cpp), which Wine fills from the same Linux accounting
// of the process that runs the program.

#include <map>
#include <string>

namespace bench {

// The peak of the process's resident set (Linux) or working set (Windows)
// so far, in KiB.
long peakMemoryKiB();

// The process's resident set (Linux) or working set (Windows) now, in KiB;
// -1 when the system cannot say.
long residentMemoryKiB();

// How many threads the process has now; -1 when the system cannot say.
long threadCount();

// CPU time of the whole process so far, user and system, in seconds.
double cpuSeconds();

// CPU time of each live thread of the process so far, in ms, keyed by a name
// that stays the same for the thread's life.
std::map<std::string, long> threadCpuMs();

} // namespace bench
