#pragma once
// The program's message log kept in a file that a person can send to
// support: every line still goes where it went before (standard error, or
// the debugger on Windows), and also into this run's file in a folder that
// keeps the last few runs. The last lines stay in memory as well, for the
// error page's details, also when there is no file.

#include "logcontent.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class LogFile {
public:
    // Runs kept in the folder, this one included, and the bound of each file.
    static constexpr int kKeptFiles = 5;
    static constexpr qint64 kMaxBytes = 1024 * 1024;
    // Lines kept in memory.
    static constexpr int kTailLines = 40;
    // Names tried for this run's file when something stands at the first.
    static constexpr int kNameAttempts = 20;

    // Takes Qt's log until destroyed. A folder that cannot be made or
    // written leaves this run without a file, which the log says once;
    // nothing else changes. The folder keeps kKeptFiles runs, more while
    // more wizards run: a running wizard's file is never removed.
    explicit LogFile(const QString& folder, qint64 maxBytes = kMaxBytes);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // "logs" in the per-user data folder, beside the backup.
    static QString defaultFolder();
    // The one that takes the log now; null when none does.
    static LogFile* current();
    // This run's file; empty when it has none.
    QString path() const { return m_path; }
    // Why this run's file is not written any more, in the system's words;
    // empty while it is.
    QString failure() const;
    // The last lines logged, oldest first.
    QStringList tail() const;
    // The operating system, its kernel and the processor's architecture.
    static QString systemDescription();

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);
    // Keeps the line; the text of a failure to say, when the file failed now.
    QString record(const QString& line);
    bool write(const QByteArray& bytes);
    bool open(const QString& folder, QString& why);

    qint64 m_maxBytes;
    qint64 m_written = 0;
    LogFile* m_outer = nullptr;
    QFile m_file;
    QString m_path;
    QByteArray m_header;
    // Why the last write failed, in the system's words.
    QString m_failure;
    QStringList m_tail;
    LogContent m_content;
};
