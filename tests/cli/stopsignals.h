#pragma once
// The signals the flasher's stop rows send, one source per platform
// (stopsignals_linux.cpp, stopsignals_windows.cpp). Windows sends Ctrl+Break
// to a process group of the test's console, and has no other.

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

struct StopSignal {
    int number;
    QString name;
    int status;   // the exit status a run stopped by it ends with
    QString text; // and its word
};

// SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+Break.
QList<StopSignal> stopSignals();
// SIGPIPE; 0 on Windows.
int brokenPipeSignal();
// SIGHUP; 0 on Windows.
int hangUpSignal();

enum class Interrupt {
    Sent,
    NotDelivered, // the system refused to send it (console events under Wine)
    Failed,
};
// Starts program; once its first output is out, sends it signal, or for
// brokenPipeSignal() has the reader of its standard output leave after the
// first byte. A negative signal (POSIX only) goes to the program's whole
// process group, its children too, as a terminal sends Ctrl+C to its
// foreground job: the program then leads a group of its own.
Interrupt startAndInterrupt(QProcess& process, const QString& program, const QStringList& arguments,
                            int signal);
