// Windows has no signals to speak of; a program run from a console gets its
// control events instead (Ctrl+C, Ctrl+Break, the console window closed).
// They ask the window to close as its close box does. A program started
// without a console (the wizard from the desktop) never gets one, and then
// this does nothing: its window's close box is the only way to ask.
#include "closesignals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMetaObject>
#include <QPointer>
#include <QWindow>

#include <windows.h>

namespace {

QPointer<QWindow> target;
// Set when the application leaves its event loop.
HANDLE finished = nullptr;

// Runs on a thread the system starts for the event.
BOOL WINAPI onControlEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return FALSE;
    QMetaObject::invokeMethod(
        application,
        [event] {
            qInfo() << "Console event" << int(event) << "received: closing the window";
            if (target)
                target->close();
        },
        Qt::QueuedConnection);
    // The program ends when this returns from a closed console (or after the
    // system's few seconds): until then a running write may finish.
    if (event == CTRL_CLOSE_EVENT && finished)
        WaitForSingleObject(finished, INFINITE);
    return TRUE;
}

} // namespace

void closeWindowOnSignals(QWindow* window) {
    target = window;
    if (finished)
        return;
    finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                     [] { SetEvent(finished); });
    if (!SetConsoleCtrlHandler(onControlEvent, TRUE))
        qWarning() << "Console events cannot close the window: error" << GetLastError();
}
