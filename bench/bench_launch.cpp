// bench_launch PROGRAM [ARGUMENT...]
// Starts PROGRAM the way a desktop would (fork and exec; CreateProcess on
// Windows) and writes
//   startup-ms <from the start to the child's "first-frame" line>
//   peak-kib <the child's peak resident memory (working set on Windows) as
//     the system counted it; where the system cannot say for an ended
//     process (Wine), the child's own "self-peak-kib" line>
//   probe-ms, window-shown-ms, first-sync-ms <from the start to the child's
//     line of that name: probe installed after the application object,
//     window shown at the end of the QML load, first frame begun>
// followed by every other line the child wrote to standard output.

#include "launch.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_launch PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    LaunchedChild* child = launchChild(argv + 1);
    if (!child)
        return 2;
    std::vector<std::string> others;
    std::vector<std::string> phases;
    // The child stamps its lines with the same monotonic clock, which on
    // both systems is one clock for every process of the machine.
    const long long startNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    double startupMs = -1;
    long selfPeakKiB = -1;
    char line[512];
    while (std::fgets(line, sizeof line, childOutput(child))) {
        char name[32];
        long long ns = 0;
        if (std::sscanf(line, "%31[a-z-] %lld", name, &ns) == 2 &&
            (!std::strcmp(name, "probe") || !std::strcmp(name, "window-shown") ||
             !std::strcmp(name, "first-sync") || !std::strcmp(name, "first-frame"))) {
            const double ms = double(ns - startNs) / 1e6;
            if (!std::strcmp(name, "first-frame"))
                startupMs = ms;
            else
                phases.push_back(std::string(name) + "-ms " + std::to_string(ms) + "\n");
            continue;
        }
        long kib = 0;
        if (std::sscanf(line, "self-peak-kib %ld", &kib) == 1)
            selfPeakKiB = kib;
        others.emplace_back(line);
    }
    long peakKiB = -1;
    const bool ended = waitChild(child, peakKiB);
    if (peakKiB < 0)
        peakKiB = selfPeakKiB;
    std::printf("startup-ms %.3f\npeak-kib %ld\n", startupMs, peakKiB);
    for (const auto& p : phases)
        std::fputs(p.c_str(), stdout);
    for (const auto& l : others)
        std::fputs(l.c_str(), stdout);
    return ended && startupMs >= 0 ? 0 : 1;
}
