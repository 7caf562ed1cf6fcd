#pragma once
// The signals the flasher's stop rows send, one source per platform
// (stopsignals_posix.cpp, stopsignals_windows.cpp). Windows has none of
// them to send to one process: its rows skip themselves.

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

// SIGINT, SIGTERM, SIGHUP; none on Windows.
QList<StopSignal> stopSignals();
// SIGPIPE; 0 on Windows.
int brokenPipeSignal();

// Starts program; once its first output is out, sends it signal, or for
// brokenPipeSignal() has the reader of its standard output leave after the
// first byte. False when that cannot be done.
bool startAndInterrupt(QProcess& process, const QString& program, const QStringList& arguments,
                       int signal);
