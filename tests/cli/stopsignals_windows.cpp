#include "stopsignals.h"

#include <csignal>

#include <windows.h>

// Ctrl+Break, which a console delivers to one process group: the flasher
// takes it as Ctrl+C. Ctrl+C itself cannot be sent to a group of its own.
QList<StopSignal> stopSignals() {
    return {StopSignal{SIGINT, QStringLiteral("Ctrl+Break"), 130, QStringLiteral("Interrupted")}};
}

int brokenPipeSignal() {
    return 0;
}

int hangUpSignal() {
    return 0;
}

Interrupt startAndInterrupt(QProcess& process, const QString& program, const QStringList& arguments,
                            int signal) {
    // Console events reach the processes of one console only. A test whose
    // output goes to a file may have a console without a window (Wine gives
    // one), where Qt would start the child with none of its own.
    if (signal != SIGINT)
        return Interrupt::Failed;
    AllocConsole();
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* created) {
        created->flags = (created->flags & ~DWORD(CREATE_NO_WINDOW)) | CREATE_NEW_PROCESS_GROUP;
    });
    process.start(program, arguments);
    if (!process.waitForReadyRead(120000))
        return Interrupt::Failed;
    if (GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, DWORD(process.processId())))
        return Interrupt::Sent;
    // Wine 8 refuses to send console events (ERROR_INVALID_ACCESS).
    process.kill();
    process.waitForFinished();
    return Interrupt::NotDelivered;
}
