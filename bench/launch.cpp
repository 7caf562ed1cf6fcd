// bench_launch PROGRAM [ARGUMENT...]
// Starts PROGRAM the way a desktop would (fork and exec) and writes
//   startup-ms <from the fork to the child's "first-frame" line>
//   peak-kib <the child's peak resident memory>
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
    double startupMs = -1;
    char line[512];
    while (std::fgets(line, sizeof line, lines)) {
        long long ns = 0;
        if (std::sscanf(line, "first-frame %lld", &ns) == 1)
            startupMs = double(ns - std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        start.time_since_epoch())
                                        .count()) /
                        1e6;
        else
            others.emplace_back(line);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::printf("startup-ms %.3f\npeak-kib %ld\n", startupMs, usage.ru_maxrss);
    for (const auto& l : others)
        std::fputs(l.c_str(), stdout);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && startupMs >= 0 ? 0 : 1;
}
