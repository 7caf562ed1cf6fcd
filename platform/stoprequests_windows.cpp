// Windows has no signals to speak of; a program run from a console gets its
// control events instead, and every program those of the session (a log-off,
// a shutdown). A program started without a console (the wizard from the
// desktop) gets no console events: its window's close box is the way to ask.
#include "stoprequests.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <csignal>
#include <cstdlib>

#include <windows.h>

namespace platform {

namespace {

void (*g_record)(int, bool) = nullptr;
std::function<void(int)> g_react;
// Set as the program ends, so that a closing console waits for it.
HANDLE g_ended = nullptr;

// Runs on a thread the system starts for the event.
BOOL WINAPI onControlEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        g_record(SIGINT, false);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        g_record(SIGTERM, false);
        // The process ends when this returns (or after the system's few
        // seconds): until then a running block may finish.
        WaitForSingleObject(g_ended, INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

void postToEventLoop(int number, bool) {
    if (QCoreApplication* application = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            application,
            [number] {
                if (g_react)
                    g_react(number);
            },
            Qt::QueuedConnection);
}

} // namespace

void onStopRequests(void (*record)(int number, bool passedOn)) {
    g_record = record;
    if (g_ended)
        return;
    g_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atexit([] { SetEvent(g_ended); });
    SetConsoleCtrlHandler(onControlEvent, TRUE);
}

void onStopRequestsInEventLoop(std::function<void(int number)> react) {
    g_react = std::move(react);
    onStopRequests(postToEventLoop);
}

void holdingStopRequests(const std::function<void()>& start) {
    start();
}

QString stopText(int number) {
    return number == SIGTERM ? QStringLiteral("Terminated") : QStringLiteral("Interrupted");
}

const char* stopStatusHelp() {
    return "  130  interrupted (Ctrl+C or Ctrl+Break); a running transfer was let finish first\n"
           "  143  ended (the console closed, a log-off or a shutdown); a running transfer was\n"
           "       let finish first, as far as Windows waits\n";
}

void passStopRequest(qint64, int) {}

} // namespace platform
