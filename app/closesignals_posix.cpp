#include "closesignals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QPointer>
#include <QSocketNotifier>
#include <QWindow>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler may only write to a descriptor; the GUI thread reads it.
int signalPipe[2] = {-1, -1};
QPointer<QWindow> target;

void onSignal(int number) {
    // The interrupted code may be about to read errno, which write() can set.
    const int interruptedErrno = errno;
    const char byte = char(number);
    const ssize_t written = ::write(signalPipe[0], &byte, 1);
    (void)written; // a full pipe already holds a request to close
    errno = interruptedErrno;
}

} // namespace

void closeWindowOnSignals(QWindow* window) {
    target = window;
    if (signalPipe[0] != -1)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        qWarning() << "Signals cannot close the window:" << std::strerror(errno);
        return;
    }
    auto* notifier =
        new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte = 0;
        while (::read(signalPipe[1], &byte, 1) == 1)
            qInfo() << "Signal" << int(byte) << "received: closing the window";
        if (target)
            target->close();
    });

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        // Ignored from the start (nohup) is the caller's wish that it not
        // close the window: it stays ignored.
        struct sigaction inherited {};
        if (sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        sigaction(number, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}
