#include "launch.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct LaunchedChild {
    pid_t pid;
    std::FILE* output;
};

LaunchedChild* launchChild(char* arguments[]) {
    int out[2];
    if (pipe(out) != 0) {
        std::perror("pipe");
        return nullptr;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return nullptr;
    }
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execv(arguments[0], arguments);
        std::perror(arguments[0]);
        _exit(127);
    }
    close(out[1]);
    return new LaunchedChild{pid, fdopen(out[0], "r")};
}

std::FILE* childOutput(LaunchedChild* child) {
    return child->output;
}

bool waitChild(LaunchedChild* child, long& peakKiB) {
    int status = 0;
    rusage usage{};
    wait4(child->pid, &status, 0, &usage);
    std::fclose(child->output);
    delete child;
    peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
