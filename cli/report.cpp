#include "report.h"

#include "arguments.h"
#include "flasher.h"
#include "hiddfu.h"

#include <QCoreApplication>
#include <QDateTime>

namespace cli {

QString codeText(int32_t code) {
    // A code outside the table has no text of its own here: the caller's
    // line names the code.
    return hidDfuIsResultCode(code) ? QString::fromUtf8(hidDfuResultText(code)) : QString();
}

QString afterFailedWrite(int32_t code, const HidDfuWriteFacts& facts) {
    // The engine's text says what went wrong, not whether the firmware may
    // now be cut short, nor that status 0 from an accessory still busy is
    // no refusal but a write that did not finish in time.
    QString cause;
    if (code == HidDfuResult::UpgradeFailed && facts.dfuStatus == 0 &&
        facts.dfuState == kHidDfuStateDnBusy)
        cause = QStringLiteral("the accessory was still busy at the last status read and did "
                               "not finish in time, which is no refusal");
    else if (code == HidDfuResult::TimedOut)
        cause = facts.bytesWritten > 0
                    ? QStringLiteral("the accessory was still taking the firmware, more slowly "
                                     "than the time allowed")
                    : QStringLiteral("the accessory did not become ready in the time allowed");
    else if (code != HidDfuResult::UpgradeFailed && code != HidDfuResult::DriverOperationFailed)
        return QString();
    const QString left =
        facts.bytesWritten == 0
            ? QStringLiteral("nothing was written: run the upgrade again")
            : QStringLiteral("%1 of %2 bytes written: the accessory may hold an incomplete "
                             "firmware: run the upgrade again to restore it")
                  .arg(facts.bytesWritten)
                  .arg(facts.totalBytes);
    // A slow accessory that runs out of time again is one for support, not
    // one to switch off and on.
    const QString again = code == HidDfuResult::TimedOut
                              ? QStringLiteral("; if it runs out of time again, send this line "
                                               "to support")
                              : QString();
    return (cause.isEmpty() ? QString() : cause + QStringLiteral("; ")) + left + again;
}

QString Report::programName() {
    return QCoreApplication::applicationName();
}

void Report::setFile(const QString& path) {
    facts.insert(QStringLiteral("file"), shownName(path));
    if (shownExactly(path))
        facts.remove(QStringLiteral("fileBytes"));
    else
        facts.insert(QStringLiteral("fileBytes"),
                     QString::fromLatin1(nativeName(path).toPercentEncoding("/")));
}

void Report::stamp(QJsonObject& line) const {
    line.insert(QStringLiteral("time"),
                QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    line.insert(QStringLiteral("durationSeconds"), double(m_started.elapsed()) / 1000.0);
}

int Report::succeed(const QString& line) {
    out.say(line);
    return finish({});
}

int Report::fail(const Failure& failure) {
    if (!out.json()) {
        // Refusals of the command line itself come from no engine call.
        const bool ownRefusal = failure.status == UsageError || failure.status == NotNewer;
        QString line = QStringLiteral("%1 %2: %3").arg(programName(), m_command, failure.text);
        if (!ownRefusal)
            line += QStringLiteral(" (code %1)").arg(failure.code);
        if (!failure.detail.isEmpty())
            line += QStringLiteral(": ") + failure.detail;
        // The engine's texts carry file names as given.
        out.warn(escapeControls(line));
    }
    return finish(failure);
}

int Report::failEngine(int32_t code, const QString& detail) {
    // A signal never cuts a transfer short: a failure is the device's own.
    return fail({statusOfCode(code), code, QString::fromLocal8Bit(hidDfuGetLastError()), detail});
}

int Report::failInterrupted(int32_t code, const QString& leftIn) {
    if (code != 0)
        return failEngine(code, QStringLiteral("interrupted; the transfer had failed"));
    return fail({interruptStatus(), 0, interruptText(), leftIn});
}

int Report::finish(const Failure& failure) {
    if (out.json()) {
        QJsonObject line{{QStringLiteral("event"), QStringLiteral("result")},
                         {QStringLiteral("command"), m_command},
                         {QStringLiteral("status"), int(failure.status)},
                         {QStringLiteral("code"), failure.code},
                         {QStringLiteral("text"), failure.text}};
        if (!failure.detail.isEmpty())
            line.insert(QStringLiteral("detail"), failure.detail);
        for (auto it = facts.begin(); it != facts.end(); ++it)
            line.insert(it.key(), it.value());
        stamp(line);
        out.jsonLine(line);
    }
    return failure.status;
}

} // namespace cli
