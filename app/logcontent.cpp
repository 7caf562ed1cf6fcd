#include "logcontent.h"

#include "hiddfu.h"

#include <QRegularExpression>
#include <QStringList>
#include <QtGlobal>

namespace {

// The progress relay's line ("\r 40 % completed": the carriage return lets a
// terminal overwrite it) and the wizard's echo of it ("qml: progress 40%").
const QRegularExpression& relayProgress() {
    static const QRegularExpression pattern(QStringLiteral("^\\r?\\s*(\\d+) % completed$"));
    return pattern;
}
const QRegularExpression& pageProgress() {
    static const QRegularExpression pattern(QStringLiteral("^progress \\d+%$"));
    return pattern;
}

// The engine's record of each HID device seen while connecting: the first
// line names it, the following ones, indented, give its fields.
const QRegularExpression& deviceType() {
    static const QRegularExpression pattern(QStringLiteral("^\\s*type:\\s+(\\d+)\\s+(\\d+)\\s*$"));
    return pattern;
}
const QLatin1String kDeviceFound("Device Found");
const QLatin1String kSerialField("  serial_number: ");

// A device's name or serial can hold terminal escapes: the file shows them as
// text. Line breaks stay (a record's fields are lines of their own), tabs too.
QString escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        const bool control = u < 0x20 || (u >= 0x7f && u < 0xa0);
        if (!control || c == QLatin1Char('\n') || c == QLatin1Char('\t')) {
            out += c;
        } else if (c == QLatin1Char('\r')) {
            out += QLatin1String("\\r");
        } else {
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        }
    }
    return out;
}

QString withoutOtherSerial(const QString& record) {
    QStringList lines = record.split(QLatin1Char('\n'));
    bool accessory = false;
    for (const QString& line : lines) {
        const QRegularExpressionMatch type = deviceType().match(line);
        if (type.hasMatch())
            accessory = type.captured(1).toUInt() == kHidDfuVendorId &&
                        type.captured(2).toUInt() == kHidDfuProductId;
    }
    if (accessory)
        return record;
    for (QString& line : lines) {
        if (line.startsWith(kSerialField))
            line = kSerialField + QLatin1String("(not the accessory's, left out)");
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QString LogContent::shape(const char* category, const QString& message) {
    if (qstrcmp(category, "qml") == 0 && pageProgress().match(message).hasMatch())
        return QString();
    const QRegularExpressionMatch progress = relayProgress().match(message);
    if (progress.hasMatch()) {
        const int percent = progress.captured(1).toInt();
        // A new operation starts below the last tenth kept.
        if (percent / 10 == m_lastTenth)
            return QString();
        m_lastTenth = percent / 10;
        return QStringLiteral("%1 % completed").arg(percent);
    }
    if (message.startsWith(kDeviceFound))
        return escaped(withoutOtherSerial(message));
    return escaped(message);
}
