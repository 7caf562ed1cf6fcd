#include "benchprocess.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <climits>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {

namespace {

// A field of /proc/self/status ("VmRSS", "Threads").
long statusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == name + ":") {
            status >> value;
            break;
        }
        status.ignore(LONG_MAX, '\n');
    }
    return value;
}

} // namespace

long residentMemoryKiB() {
    return statusField("VmRSS");
}

long threadCount() {
    return statusField("Threads");
}

long peakMemoryKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::map<std::string, long> threadCpuMs() {
    const long hz = sysconf(_SC_CLK_TCK);
    std::map<std::string, long> ms;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // The name is in parentheses and may hold spaces: fields are counted
        // from its closing one.
        const int open = line.indexOf('('), close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        // Fields 14 and 15 of the line (user and system time) follow the name.
        if (open < 0 || fields.size() < 13)
            continue;
        ms[line.mid(open + 1, close - open - 1).toStdString() + "/" + task.toStdString()] +=
            (fields[11].toLong() + fields[12].toLong()) * 1000 / hz;
    }
    return ms;
}

} // namespace bench
