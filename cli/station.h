#pragma once
// --all: one child process per accessory (the engine holds one device per
// process), a live line each, a summary table at the end.

#include "report.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace cli {

struct StationJob {
    QString path;
    QString serialNumber;
    // The child's command line: the same command for this accessory alone,
    // with --json, which is how the parent reads its progress and result.
    QStringList arguments;
};

// Runs every job at once and waits for all; returns the exit status of the
// first job (in order) that failed, 0 when none did. A signal is passed on to
// every job, which then reports it as its status unless it failed on its own.
// The lines go to report's output; its summary line is stamped as its result
// line would be.
int runStation(Report& report, const QString& command, const QVector<StationJob>& jobs);

} // namespace cli
