#pragma once
// The controller's log lines as tst_installator expects them, byte for byte
// and with their type.

#include "logcapture.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

namespace {

QString info(const QString& text) {
    return LogCapture::format(QtInfoMsg, text);
}
QString warning(const QString& text) {
    return LogCapture::format(QtWarningMsg, text);
}

bool isProgressLine(const LogLine& line) {
    return line.text.startsWith(QLatin1String("\r "));
}
// The engine's own lines, which are not the controller's business here.
bool isEngineLine(const LogLine& line) {
    return line.text.startsWith(QLatin1String("Device Found")) ||
           line.text.startsWith(QLatin1String("File to write to"));
}

QString firmwareLine(bool present, const QString& fileName) {
    return info(
        QStringLiteral("Firmware file exists in location %1 \"%2\" / \"%3\"")
            .arg(present ? "true" : "false", QCoreApplication::applicationDirPath(), fileName));
}

QStringList restartLines(int resetCode, const QString& resetError = QString()) {
    QStringList lines{info(QStringLiteral("Status after progress:  0")),
                      info(QStringLiteral("Reset status %1").arg(resetCode))};
    if (resetCode == 0)
        lines << info(QStringLiteral("Device reset succeeded"));
    else
        lines << info(QStringLiteral("Error resetting device:  ") + resetError);
    lines << info(QStringLiteral("Disconnected successfuly"));
    return lines;
}

} // namespace
