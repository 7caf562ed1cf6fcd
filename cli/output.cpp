#include "output.h"

#include "console.h"

#include <QByteArray>

#include <cstdio>

namespace cli {

namespace {

// Plain lines only at these steps, so that a log file stays readable.
constexpr int kPlainStepPercent = 10;

void writeOut(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString formatDuration(double seconds) {
    const qint64 whole = qint64(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

// The terminal's width: COLUMNS when set, else what the terminal says; 0
// when unknown. A line as long as that wraps, and the carriage return then
// redraws only its last row: one line per percent.
int terminalWidth() {
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    if (ok && columns > 0)
        return columns;
    return platform::terminalColumns();
}

// At the rate so far; the engine reports whole percents only.
double secondsLeft(int percent, double seconds) {
    return seconds * double(100 - percent) / double(percent);
}

} // namespace

QString escapeControls(const QString& text) {
    QString shown;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        shown += u < 0x20 || (u >= 0x7F && u < 0xA0)
                     ? QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'))
                     : QString(c);
    }
    return shown;
}

QByteArray compactJson(const QJsonDocument& document) {
    const QByteArray json = document.toJson(QJsonDocument::Compact);
    QByteArray escaped;
    for (int i = 0; i < json.size(); ++i) {
        const uchar c = uchar(json[i]);
        // In UTF-8, 0xC2 followed by 0x80 to 0x9F is exactly U+0080 to U+009F.
        const bool c1 = c == 0xC2 && i + 1 < json.size() && uchar(json[i + 1]) < 0xA0;
        if (c == 0x7F || c1)
            escaped += QStringLiteral("\\u%1")
                           .arg(c1 ? uchar(json[++i]) : c, 4, 16, QLatin1Char('0'))
                           .toLatin1();
        else
            escaped += char(c);
    }
    return escaped;
}

QString formatBytes(qint64 bytes) {
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(double(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

QString hex(uint32_t value, int digits) {
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

OutputMode Output::modeFor(bool json) {
    if (json)
        return OutputMode::Json;
    return platform::terminalOutput() ? OutputMode::Terminal : OutputMode::Plain;
}

void Output::beginTransfer(const QString& operation, qint64 total) {
    m_operation = operation;
    m_total = total;
    m_lastPercent = -1;
    m_clock.start();
}

void Output::progress(int percent) {
    if (percent == m_lastPercent || !m_showProgress)
        return;
    const bool plainStep =
        m_lastPercent < 0 || percent / kPlainStepPercent != m_lastPercent / kPlainStepPercent;
    m_lastPercent = percent;
    const double seconds = double(m_clock.elapsed()) / 1000.0;
    const qint64 bytes = m_total >= 0 ? m_total * percent / 100 : -1;
    switch (m_mode) {
    case OutputMode::Terminal:
        printTerminalLine(percent);
        break;
    case OutputMode::Plain:
        if (!plainStep)
            return;
        if (bytes >= 0)
            say(QStringLiteral("%1: %2 % (%3 of %4 bytes)")
                    .arg(m_operation)
                    .arg(percent)
                    .arg(bytes)
                    .arg(m_total));
        else
            say(QStringLiteral("%1: %2 %").arg(m_operation).arg(percent));
        break;
    case OutputMode::Json: {
        QJsonObject line{{QStringLiteral("event"), QStringLiteral("progress")},
                         {QStringLiteral("operation"), m_operation},
                         {QStringLiteral("percent"), percent}};
        if (bytes >= 0) {
            line.insert(QStringLiteral("bytes"), bytes);
            line.insert(QStringLiteral("total"), m_total);
            if (seconds > 0 && bytes > 0)
                line.insert(QStringLiteral("bytesPerSecond"), qint64(double(bytes) / seconds));
        }
        // Whole seconds: the estimate is no finer, and a log stays short.
        if (percent > 0)
            line.insert(QStringLiteral("secondsLeft"), qint64(secondsLeft(percent, seconds) + 0.5));
        jsonLine(line);
        break;
    }
    }
}

void Output::printTerminalLine(int percent, bool done) {
    QString line = QStringLiteral("%1 %2 %").arg(m_operation, -6).arg(percent, 3);
    const double seconds = double(m_clock.elapsed()) / 1000.0;
    QString amount;
    QString rate;
    if (m_total >= 0) {
        const qint64 bytes = m_total * percent / 100;
        amount = QStringLiteral("  %1 of %2").arg(formatBytes(bytes), formatBytes(m_total));
        if (seconds > 0 && bytes > 0)
            rate = QStringLiteral("  %1/s").arg(formatBytes(qint64(double(bytes) / seconds)));
    }
    const QString time =
        done ? QStringLiteral("  in %1").arg(formatDuration(seconds))
        : percent > 0
            ? QStringLiteral("  %1 left").arg(formatDuration(secondsLeft(percent, seconds)))
            : QString();
    // On a narrow terminal the least needed parts go first, then the rest is cut.
    const int width = terminalWidth() - 1;
    for (const QString& shorter :
         {line + amount + rate + time, line + amount + time, line + time, line}) {
        line = shorter;
        if (width <= 0 || line.size() <= width)
            break;
    }
    if (width > 0)
        line.truncate(width);
    // Back to the line's start and clear it: the line shrinks as well as grows.
    // Padded to the last line's length too, so that a console that ignores
    // the erase sequence shows no characters of the longer line before.
    const int previous = m_lineOpen ? m_lastLineLength : 0;
    platform::writeText(stdout, QStringLiteral("\r\033[K") + line.leftJustified(previous));
    m_lastLineLength = int(line.size());
    m_lineOpen = true;
}

void Output::endTransfer(bool completed) {
    if (completed && m_mode == OutputMode::Terminal && m_showProgress)
        printTerminalLine(100, true);
    if (m_lineOpen)
        writeOut("\n");
    m_lineOpen = false;
}

void Output::say(const QString& line) {
    if (!json())
        platform::writeText(stdout, line + QLatin1Char('\n'));
}

void Output::warn(const QString& line) {
    if (m_lineOpen) {
        writeOut("\n");
        m_lineOpen = false;
    }
    platform::writeText(stderr, line + QLatin1Char('\n'));
}

void Output::jsonLine(const QJsonObject& object) {
    writeOut(compactJson(QJsonDocument(object)) + '\n');
}

} // namespace cli
