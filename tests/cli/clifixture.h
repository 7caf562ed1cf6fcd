#pragma once
// What every tst_cli_<group> shares: tavrin-dfu-demo run as a process in a
// folder of prepared files, and the check of one row of a command line table
// (the line, its exit status and the output fragments it must give).

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>

// Small enough to flash in well under a second; the faults of the scenarios
// strike within the demo's full-size firmware only.
constexpr uint32_t kSmallImageLength = 4096;
constexpr int kRunMs = 120000;
// Rows that need symbolic links, /dev, /proc or names that are not UTF-8.
constexpr bool linuxOnly = true;

struct Ran {
    int status = -1;
    QString output; // standard output, then standard error
    QList<QJsonObject> json;
};

// A row of the command line table: {dir} is the test's folder, {fifo} a FIFO
// (on Windows a named pipe) in it; a fragment that starts with ! must not be
// in the output.
void row(const char* name, const char* line, int status, QStringList fragments,
         bool linuxOnly = false);

// Each test's folder of prepared files lives from its first function to its
// last; Qt Test runs these inherited slots as its own.
class CliTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { makeFiles(); }
    void cleanupTestCase() { removeFiles(); }

protected:
    void makeFiles();
    void removeFiles();

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString filled(QString text) const {
        return text.replace("{fifo}", m_fifo).replace("{dir}", m_dir.path());
    }
    // Leading NAME=VALUE arguments go into the environment.
    Ran run(QStringList arguments);
    void writeFile(const QString& name, QByteArray bytes);

    QTemporaryDir m_dir;
    QString m_fifo;
};

// A test whose rows are command lines (row() above): the test adds them in
// commandRows, the fixture runs each. A test may have slots of its own.
class CliTableTest : public CliTest {
    Q_OBJECT

private slots:
    void commandLines_data();
    void commandLines();

protected:
    virtual void commandRows() = 0;
};
