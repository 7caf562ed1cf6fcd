#pragma once
// Collects the Qt message log of every thread, with each line's type, thread
// and time, so tests can compare lines byte for byte. Installed from
// initTestCase: Qt Test puts its own handler in place before that, and a
// capture installed earlier would be replaced.

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QThread>
#include <QVector>
#include <QtGlobal>

#include <functional>

struct LogLine {
    QtMsgType type;
    QString text;
    QThread* thread;
    qint64 nsecs; // since the capture began
};

class LogCapture {
public:
    LogCapture() = default;
    ~LogCapture() {
        if (current() == this) {
            qInstallMessageHandler(m_previous);
            current() = nullptr;
        }
    }

    void install() {
        m_clock.start();
        current() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void clear() {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }

    QVector<LogLine> lines(const std::function<bool(const LogLine&)>& keep = nullptr) const {
        QMutexLocker lock(&m_mutex);
        QVector<LogLine> kept;
        for (const LogLine& line : m_lines) {
            if (!keep || keep(line))
                kept.append(line);
        }
        return kept;
    }

    // The kept lines as "type|text", in the order they were written.
    QStringList texts(const std::function<bool(const LogLine&)>& keep = nullptr) const {
        QStringList result;
        for (const LogLine& line : lines(keep))
            result.append(format(line.type, line.text));
        return result;
    }

    // Keeps the lines written on the calling thread.
    static std::function<bool(const LogLine&)> onThisThread() {
        QThread* const thread = QThread::currentThread();
        return [thread](const LogLine& line) { return line.thread == thread; };
    }

    static QString format(QtMsgType type, const QString& text) {
        return typeName(type) + QLatin1Char('|') + text;
    }

    static QString typeName(QtMsgType type) {
        switch (type) {
        case QtDebugMsg:
            return QStringLiteral("debug");
        case QtInfoMsg:
            return QStringLiteral("info");
        case QtWarningMsg:
            return QStringLiteral("warning");
        case QtCriticalMsg:
            return QStringLiteral("critical");
        case QtFatalMsg:
            return QStringLiteral("fatal");
        }
        return QStringLiteral("unknown");
    }

private:
    static LogCapture*& current() {
        static LogCapture* capture = nullptr;
        return capture;
    }

    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (LogCapture* capture = current()) {
            QMutexLocker lock(&capture->m_mutex);
            capture->m_lines.append(
                {type, text, QThread::currentThread(), capture->m_clock.nsecsElapsed()});
            // Passed on, so a failing test's output shows what was logged.
            if (capture->m_previous) {
                lock.unlock();
                capture->m_previous(type, context, text);
            }
        }
    }

    QtMessageHandler m_previous = nullptr;
    QElapsedTimer m_clock;
    mutable QMutex m_mutex;
    QVector<LogLine> m_lines;
};
