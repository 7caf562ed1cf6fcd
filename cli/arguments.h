#pragma once
// Command-line arguments that keep the bytes they were given. A file name is
// bytes: one in another encoding than the locale's (Latin-1 "caf\xe9" under
// UTF-8) decodes to U+FFFD, and that names no file. Each byte that does not
// decode is carried in the argument's text as a lone low surrogate (U+DC80 to
// U+DCFF, which no decoded text holds) and becomes that byte again for the
// file functions.

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>

namespace cli {

QStringList decodeArguments(const QByteArrayList& given);
// The bytes an argument was given as.
QByteArray nativeName(const QString& argument);
// For people: "\xe9" for each byte that did not decode, "\x1b" for each
// control character, which could move a terminal's cursor or rewrite its
// screen, and "\\" for a backslash the name has before an "x".
QString shownName(const QString& argument);
// Whether shownName gives the argument itself; false when another name
// could spell what it shows.
bool shownExactly(const QString& argument);

} // namespace cli
