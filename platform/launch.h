#pragma once
// What bench_launch asks of the system: start a program with its standard
// output in a pipe, and when it has ended, its status and peak memory.
// Linux: fork and exec (launch_linux.cpp); Windows: CreateProcess
// (launch_windows.cpp).

#include <cstdio>

struct LaunchedChild;

// Starts arguments[0], a path (not searched for), with the arguments after
// it up to the null; its standard output is a pipe, everything else is
// inherited. Null when it cannot be started, the reason on standard error.
LaunchedChild* launchChild(char* arguments[]);

// The child's standard output, to be read to its end before waitChild.
std::FILE* childOutput(LaunchedChild* child);

// Waits for the child to end and frees what launchChild took. True when it
// ended with status 0. peakKiB becomes its peak resident set (working set on
// Windows) as the system counted it, or -1 when the system cannot say once
// the process has ended (Wine).
bool waitChild(LaunchedChild* child, long& peakKiB);
