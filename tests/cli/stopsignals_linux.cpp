#include "stopsignals.h"

#include <csignal>
#include <cstdlib>
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
    const bool toGroup = signal < 0;
    signal = std::abs(signal);
    int pipe[2] = {-1, -1};
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return Interrupt::Failed;
    if (signal == SIGPIPE)
        process.setStandardOutputFile(QString("/proc/self/fd/%1").arg(pipe[1]));
    // setsid(1) makes its process the leader of a new group and executes the
    // program in it; QProcess's child leads no group, so it needs no fork
    // and the process ID stays the program's.
    if (toGroup)
        process.start("setsid", QStringList{program} + arguments);
    else
        process.start(program, arguments);
    ::close(pipe[1]);
    char first = 0;
    const bool out =
        signal == SIGPIPE ? ::read(pipe[0], &first, 1) == 1 : process.waitForReadyRead(120000);
    ::close(pipe[0]);
    if (signal != SIGPIPE)
        ::kill(pid_t(toGroup ? -process.processId() : process.processId()), signal);
    return out ? Interrupt::Sent : Interrupt::Failed;
}
