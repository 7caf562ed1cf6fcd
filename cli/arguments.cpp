#include "arguments.h"

#include "filenames.h"

namespace cli {

namespace {

bool isKeptByte(const QString& text, int i) {
    const ushort c = text.at(i).unicode();
    return c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text.at(i - 1).isHighSurrogate());
}

// Bytes in the UTF-8 sequence that lead starts, 0 for a byte no sequence
// starts with.
int sequenceLength(uchar lead) {
    return lead < 0x80             ? 1
           : (lead & 0xE0) == 0xC0 ? 2
           : (lead & 0xF0) == 0xE0 ? 3
           : (lead & 0xF8) == 0xF0 ? 4
                                   : 0;
}

QString decodeArgument(const QByteArray& bytes) {
    const QString text = platform::fileNameText(bytes);
    if (platform::fileNameBytes(text) == bytes)
        return text;
    // Only a UTF-8 locale loses bytes (Qt takes the C locale for UTF-8 too).
    QString kept;
    for (int i = 0; i < bytes.size();) {
        const QByteArray sequence = bytes.mid(i, sequenceLength(uchar(bytes[i])));
        const QString decoded = QString::fromUtf8(sequence);
        if (!sequence.isEmpty() && decoded.toUtf8() == sequence) {
            kept += decoded;
            i += sequence.size();
        } else {
            kept += QChar(0xDC00 + uchar(bytes[i++]));
        }
    }
    return kept;
}

} // namespace

QStringList decodeArguments(const QByteArrayList& given) {
    QStringList arguments;
    for (const QByteArray& bytes : given)
        arguments << decodeArgument(bytes);
    return arguments;
}

QByteArray nativeName(const QString& argument) {
    QByteArray bytes;
    int from = 0;
    for (int i = 0; i < argument.size(); ++i) {
        if (isKeptByte(argument, i)) {
            bytes +=
                argument.mid(from, i - from).toUtf8() + char(argument.at(i).unicode() - 0xDC00);
            from = i + 1;
        }
    }
    // Text without kept bytes was decoded as the system's; the rest as UTF-8.
    return from == 0 ? platform::fileNameBytes(argument) : bytes + argument.mid(from).toUtf8();
}

QString shownName(const QString& argument) {
    QString shown;
    for (int i = 0; i < argument.size(); ++i) {
        const ushort c = argument.at(i).unicode();
        const bool control = c < 0x20 || (c >= 0x7F && c < 0xA0);
        shown +=
            isKeptByte(argument, i) || control
                ? QStringLiteral("\\x%1").arg(control ? c : c - 0xDC00, 2, 16, QLatin1Char('0'))
                : QString(argument.at(i));
    }
    return shown;
}

bool shownExactly(const QString& argument) {
    return shownName(argument) == argument;
}

} // namespace cli
