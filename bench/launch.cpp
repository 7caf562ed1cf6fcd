// bench_launch PROGRAM [ARGUMENT...]
// Starts PROGRAM the way a desktop would (fork and exec) and writes
//   startup-ms <from the fork to the child's "first-frame" line>
//   peak-kib <the child's peak resident memory>
//   probe-ms, window-shown-ms, first-sync-ms <from the fork to the child's
//     line of that name: probe installed after the application object,
//     window shown at the end of the QML load, first frame begun>
// followed by every other line the child wrote to standard output.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_launch PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    int out[2];
    if (pipe(out) != 0)
        return 2;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execv(argv[1], argv + 1);
        std::perror(argv[1]);
        _exit(127);
    }
    close(out[1]);
    std::FILE* lines = fdopen(out[0], "r");
    std::vector<std::string> others;
    std::vector<std::string> phases;
    const long long forkNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    double startupMs = -1;
    char line[512];
    while (std::fgets(line, sizeof line, lines)) {
        char name[32];
        long long ns = 0;
        if (std::sscanf(line, "%31[a-z-] %lld", name, &ns) == 2 &&
            (!std::strcmp(name, "probe") || !std::strcmp(name, "window-shown") ||
             !std::strcmp(name, "first-sync") || !std::strcmp(name, "first-frame"))) {
            const double ms = double(ns - forkNs) / 1e6;
            if (!std::strcmp(name, "first-frame"))
                startupMs = ms;
            else
                phases.push_back(std::string(name) + "-ms " + std::to_string(ms) + "\n");
        } else {
            others.emplace_back(line);
        }
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::printf("startup-ms %.3f\npeak-kib %ld\n", startupMs, usage.ru_maxrss);
    for (const auto& p : phases)
        std::fputs(p.c_str(), stdout);
    for (const auto& l : others)
        std::fputs(l.c_str(), stdout);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && startupMs >= 0 ? 0 : 1;
}
