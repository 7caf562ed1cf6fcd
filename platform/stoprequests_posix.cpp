#include "stoprequests.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

void (*g_record)(int, bool) = nullptr;

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, signal);
    return set;
}

void onSignal(int number, siginfo_t* info, void*) {
    // si_code <= 0: sent by a process (kill, sigqueue), not by the terminal.
    g_record(number, info && info->si_code <= 0 && info->si_pid == ::getppid());
}

// restart: system calls a request interrupts go on (an event loop's);
// without it they fail with EINTR, so that a flasher blocked on opening a
// FIFO ends as asked.
void install(void (*record)(int, bool), bool restart) {
    g_record = record;
    struct sigaction action = {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO | (restart ? SA_RESTART : 0);
    action.sa_mask = stopSignals();
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // Ignored from the start is the caller's wish that it not stop the
        // program: it stays ignored.
        struct sigaction inherited = {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
    // A --all parent starts its children with them blocked
    // (holdingStopRequests); one that came meanwhile arrives now.
    const sigset_t held = stopSignals();
    sigprocmask(SIG_UNBLOCK, &held, nullptr);
    // Writes to a reader that went away (| head -1) fail instead, and the
    // run goes on.
    action.sa_flags = 0;
    action.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &action, nullptr);
}

// The handler may only write to a descriptor; the event loop reads it.
int g_pipe[2] = {-1, -1};
std::function<void(int)> g_react;

void recordToPipe(int number, bool) {
    // The interrupted code may be about to read errno, which write() can set.
    const int interruptedErrno = errno;
    const char byte = char(number);
    const ssize_t written = ::write(g_pipe[0], &byte, 1);
    (void)written; // a full pipe already holds a request
    errno = interruptedErrno;
}

} // namespace

void onStopRequests(void (*record)(int number, bool passedOn)) {
    install(record, false);
}

void onStopRequestsInEventLoop(std::function<void(int number)> react) {
    g_react = std::move(react);
    if (g_pipe[0] != -1)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0) {
        qWarning() << "Stop requests cannot reach the program:" << std::strerror(errno);
        return;
    }
    // Set apart from socketpair: its SOCK_CLOEXEC and SOCK_NONBLOCK are not
    // every POSIX system's. Nonblocking: a full pipe must not stop the
    // handler, nor an empty one the event loop.
    for (int end : g_pipe) {
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    auto* notifier =
        new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte = 0;
        while (::read(g_pipe[1], &byte, 1) == 1)
            if (g_react)
                g_react(int(byte));
    });
    install(recordToPipe, true);
}

void holdingStopRequests(const std::function<void()>& start) {
    const sigset_t held = stopSignals();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &held, &before);
    start();
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

QString stopText(int number) {
    return number == SIGTERM  ? QStringLiteral("Terminated")
           : number == SIGHUP ? QStringLiteral("Hung up")
                              : QStringLiteral("Interrupted");
}

const char* stopStatusHelp() {
    return "  129  hung up (SIGHUP); a running transfer was let finish first\n"
           "  130  interrupted (Ctrl+C); a running transfer was let finish first\n"
           "  143  terminated (SIGTERM); a running transfer was let finish first\n";
}

// From a terminal the children have the signal already; from kill they
// would not. They take one from their parent as the same request
// (onStopRequests' passedOn), so it never counts twice.
void passStopRequest(qint64 processId, int number) {
    ::kill(pid_t(processId), number);
}

} // namespace platform
