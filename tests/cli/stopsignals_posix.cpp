#include "stopsignals.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

QList<StopSignal> stopSignals() {
    QList<StopSignal> all;
    for (const auto& [number, status, text] :
         {std::tuple{SIGINT, 130, "Interrupted"}, std::tuple{SIGTERM, 143, "Terminated"},
          std::tuple{SIGHUP, 129, "Hung up"}})
        all << StopSignal{number, QString::fromLatin1(strsignal(number)), status, text};
    return all;
}

int brokenPipeSignal() {
    return SIGPIPE;
}

int hangUpSignal() {
    return SIGHUP;
}

Interrupt startAndInterrupt(QProcess& process, const QString& program, const QStringList& arguments,
                            int signal) {
    int pipe[2] = {-1, -1};
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return Interrupt::Failed;
    if (signal == SIGPIPE)
        process.setStandardOutputFile(QString("/proc/self/fd/%1").arg(pipe[1]));
    process.start(program, arguments);
    ::close(pipe[1]);
    char first = 0;
    const bool out =
        signal == SIGPIPE ? ::read(pipe[0], &first, 1) == 1 : process.waitForReadyRead(120000);
    ::close(pipe[0]);
    if (signal != SIGPIPE)
        ::kill(pid_t(process.processId()), signal);
    return out ? Interrupt::Sent : Interrupt::Failed;
}
