#pragma once
// A virtual X server of one test process's own. Xvfb picks a free display by
// itself (-displayfd), so GUI tests that ctest runs at the same time never
// race for a display number; the server goes down with the test process,
// also when ctest kills it at its time limit.

#include <QByteArray>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

class PrivateXServer {
public:
    PrivateXServer() = default;
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;
    ~PrivateXServer() { stop(); }

    // Starts program (an Xvfb) with one screen of the given size ("1280x1024")
    // and waits up to timeoutMs for the display it chose. False when it did
    // not start or named no display in time.
    bool start(const char* program, const QByteArray& screen, int timeoutMs) {
        // Made before the fork: the child only calls what is safe there.
        const QByteArray geometry = screen + "x24";
        int channel[2];
        if (pipe(channel) != 0)
            return false;
        m_pid = fork();
        if (m_pid < 0) {
            close(channel[0]);
            close(channel[1]);
            return false;
        }
        if (m_pid == 0)
            runServer(program, geometry, channel[0], channel[1]);
        close(channel[1]);
        m_display = readDisplay(channel[0], timeoutMs);
        close(channel[0]);
        if (m_display.isEmpty()) {
            stop();
            return false;
        }
        return true;
    }

    // ":N", for DISPLAY.
    QByteArray display() const { return m_display; }

    void stop() {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }

private:
    static constexpr int kExecFailed = 127;

    // In the child: never returns.
    [[noreturn]] static void runServer(const char* program, const QByteArray& screen, int readEnd,
                                       int writeEnd) {
        // Ends the server with the test, however the test ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(readEnd);
        // The server's chatter about its font path and the like is not the
        // test's output.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        const std::string fd = std::to_string(writeEnd);
        execl(program, program, "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
              screen.constData(), static_cast<char*>(nullptr));
        _exit(kExecFailed);
    }

    // The server writes its display number and a newline once it listens.
    static QByteArray readDisplay(int readEnd, int timeoutMs) {
        QByteArray number;
        pollfd wait{readEnd, POLLIN, 0};
        while (poll(&wait, 1, timeoutMs) > 0) {
            char c = 0;
            if (read(readEnd, &c, 1) != 1)
                return QByteArray();
            if (c == '\n')
                return number.isEmpty() ? QByteArray() : ":" + number;
            number.append(c);
        }
        return QByteArray();
    }

    pid_t m_pid = -1;
    QByteArray m_display;
};
