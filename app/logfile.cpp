#include "logfile.h"

#include "filenames.h"
#include "files.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QSysInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char kPrefix[] = "installator-";
const char kSuffix[] = ".log";

// Guards the current log file and its handler's chain: lines come from the
// GUI thread, the progress relay's and the engine's worker.
QMutex& lock() {
    static QMutex mutex;
    return mutex;
}
LogFile* g_current = nullptr;
QtMessageHandler g_previous = nullptr;
// Set while this thread records a line, so that a line logged on the way (a
// file warning) goes on without being recorded again, or waiting for itself.
thread_local bool t_recording = false;

const char* typeName(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "unknown";
}

} // namespace

LogFile::LogFile(const QString& folder, qint64 maxBytes) : m_maxBytes(maxBytes) {
    m_header = QStringLiteral("%1 %2 started %3; Qt %4, %5\n")
                   .arg(QCoreApplication::applicationName(), QStringLiteral(TAVRIN_VERSION),
                        QDateTime::currentDateTimeUtc().toString(Qt::ISODate),
                        QString::fromLatin1(qVersion()), systemDescription())
                   .toUtf8();
    QString why;
    const bool opened = open(folder, why);
    {
        QMutexLocker locked(&lock());
        // One handler for all: a log file made while another takes the log
        // (a test's) takes it over until it goes.
        m_outer = g_current;
        if (!m_outer)
            g_previous = qInstallMessageHandler(&LogFile::handle);
        g_current = this;
    }
    if (!opened)
        qWarning().noquote()
            << QStringLiteral("No log file for this run: %1 (%2)").arg(folder, why);
}

LogFile::~LogFile() {
    QMutexLocker locked(&lock());
    g_current = m_outer;
    if (!m_outer)
        qInstallMessageHandler(g_previous);
}

QString LogFile::systemDescription() {
    return QStringLiteral("%1 (%2 %3, %4)")
        .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion(),
             QSysInfo::currentCpuArchitecture());
}

QString LogFile::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/logs";
}

LogFile* LogFile::current() {
    QMutexLocker locked(&lock());
    return g_current;
}

QString LogFile::failure() const {
    QMutexLocker locked(&lock());
    return m_failure;
}

QStringList LogFile::tail() const {
    QMutexLocker locked(&lock());
    return m_tail;
}

bool LogFile::open(const QString& folder, QString& why) {
    if (!QDir().mkpath(folder)) {
        why = QStringLiteral("the folder cannot be made");
        return false;
    }
    // Names in the order of their start, so that the oldest sort first.
    const QString stem = QStringLiteral("%1%2-%3")
                             .arg(kPrefix)
                             .arg(QDateTime::currentDateTimeUtc().toString("yyyyMMdd-HHmmss"))
                             .arg(QCoreApplication::applicationPid());
    // A new file each run, made exclusively: whatever stands at a name (a
    // link, which was appended through, a FIFO, which kept the window from
    // ever appearing, another run's file) is never opened; the next name is
    // tried.
    std::FILE* made = nullptr;
    QString path;
    int error = 0;
    for (int attempt = 1; attempt <= kNameAttempts && !made; ++attempt) {
        path = QDir(folder).filePath(
            stem + (attempt > 1 ? QStringLiteral("-%1").arg(attempt) : QString()) + kSuffix);
        errno = 0;
        made = platform::createNewFile(platform::fileNameBytes(path).toStdString());
        error = errno;
        if (!made && error != EEXIST)
            break;
    }
    if (!made) {
        why = QString::fromLocal8Bit(std::strerror(error != 0 ? error : EEXIST));
        return false;
    }
    // Before the first byte: another run's rotation leaves a held file alone.
    platform::holdOpenFile(made);
    if (!m_file.open(made, QIODevice::WriteOnly | QIODevice::Unbuffered,
                     QFileDevice::AutoCloseHandle)) {
        std::fclose(made);
        why = m_file.errorString();
        return false;
    }
    if (!write(m_header)) {
        why = m_failure;
        m_file.close();
        return false;
    }
    m_path = path;
    // Only other runs' files go, the oldest names first, and only those no
    // running wizard holds: sorting by name alone removed this run's own
    // file when later-named ones stood there, and seven wizards started
    // together removed each other's.
    QStringList runs =
        QDir(folder).entryList({QString(kPrefix) + "*" + kSuffix}, QDir::Files, QDir::Name);
    runs.removeAll(QFileInfo(path).fileName());
    int excess = int(runs.size()) + 1 - kKeptFiles;
    for (const QString& run : runs) {
        if (excess <= 0)
            break;
        if (platform::removeUnheldFile(
                platform::fileNameBytes(QDir(folder).filePath(run)).toStdString()))
            --excess;
    }
    return true;
}

bool LogFile::write(const QByteArray& bytes) {
    m_written += bytes.size();
    errno = 0;
    if (m_file.write(bytes) == bytes.size() && m_file.flush())
        return true;
    // The system's reason: a full disk said "Unknown error".
    m_failure = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : m_file.errorString();
    return false;
}

void LogFile::handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (t_recording) {
        // This thread holds the lock, and with it the chain.
        g_previous(type, context, message);
        return;
    }
    QMutexLocker locked(&lock());
    QString failure;
    if (g_current) {
        t_recording = true;
        // In UTC, as the file's name: a support desk reads runs from
        // anywhere.
        const QString shaped = g_current->m_content.shape(context.category, message);
        if (!shaped.isNull())
            failure = g_current->record(
                QStringLiteral("%1 %2 %3")
                    .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs),
                         typeName(type), qFormatLogMessage(type, context, shaped)));
        t_recording = false;
    }
    const QtMessageHandler previous = g_previous;
    locked.unlock();
    previous(type, context, message);
    if (!failure.isEmpty())
        qWarning().noquote() << failure;
}

QString LogFile::record(const QString& line) {
    m_tail << line;
    if (m_tail.size() > kTailLines)
        m_tail.removeFirst();
    if (!m_file.isOpen())
        return QString();
    // A line can hold a file's name or a device's answer: no single one
    // takes more than a quarter of the file.
    QByteArray bytes = line.toUtf8().left(int(m_maxBytes / 4)) + '\n';
    if (m_written + bytes.size() > m_maxBytes) {
        // The end of a run says how it went: the file starts over, with the
        // program's line and a word on what was dropped.
        bytes.prepend(m_header +
                      "Earlier lines of this run were dropped: a log file holds at "
                      "most " +
                      QByteArray::number(m_maxBytes) + " bytes\n");
        m_written = 0;
        if (!m_file.resize(0))
            bytes.clear();
    }
    if (!bytes.isEmpty() && write(bytes))
        return QString();
    if (bytes.isEmpty())
        m_failure = m_file.errorString();
    const QString why = m_failure;
    m_file.close();
    return QStringLiteral("The log file %1 is not written any more: %2").arg(m_path, why);
}
