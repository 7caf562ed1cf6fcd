#pragma once
// How a tavrin-dfu command ends: a line for people, or the failure with the
// engine's code and text (on standard error, or as the JSON result line).

#include "exitstatus.h"
#include "hiddfu.h"
#include "output.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include <cstdint>

namespace cli {

struct Failure {
    ExitStatus status = Success;
    int32_t code = 0;
    QString text;   // the engine's text, or the code's table text
    QString detail; // what tavrin-dfu adds, when anything
};

// The engine's table text of a result code; empty for codes it lacks.
QString codeText(int32_t code);

// What a write to the accessory that failed with code leaves there, and the
// next step, from how far the write got (hidDfuGetWriteFacts); empty for
// codes that need no such word.
QString afterFailedWrite(int32_t code, const HidDfuWriteFacts& facts);

class Report {
public:
    Report(const QString& command, OutputMode mode) : out(mode), m_command(command) {
        m_started.start();
    }

    Output out;
    // Added to the JSON result line.
    QJsonObject facts;

    // The file a command read or wrote, as the result line's "file"; a
    // name shown with escapes also as "fileBytes", its bytes
    // percent-encoded, so that a name that is not UTF-8 stays apart from
    // one that spells "\xe9".
    void setFile(const QString& path);

    int succeed(const QString& line);
    int fail(const Failure& failure);
    // A failed engine call, with the engine's last error text and the
    // code's status, also after Ctrl+C.
    int failEngine(int32_t code, const QString& detail = QString());
    // The engine's last error for code, or plain "Interrupted" (or
    // "Terminated", "Hung up") when the transfer ended well: what an
    // interrupted command reports.
    // leftIn says what completed and in which state the accessory is left.
    int failInterrupted(int32_t code, const QString& leftIn);

    // Adds "time", when the line is written (UTC, ISO 8601 with
    // milliseconds), and "durationSeconds", how long the run had taken by
    // then: a station log orders and times its runs by them.
    void stamp(QJsonObject& line) const;

    static QString programName();

private:
    int finish(const Failure& failure);

    QString m_command;
    QElapsedTimer m_started;
};

} // namespace cli
