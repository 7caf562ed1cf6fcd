#pragma once
// A command-line program's arguments and its output for people.

#include <QByteArrayList>
#include <QStringList>

#include <cstdio>

namespace platform {

// The program's arguments from the bytes main was given: decode(given) where
// those are the arguments as passed (POSIX systems pass bytes); Qt's own on
// Windows, which passes UTF-16 that only Qt's arguments keep whole (main's
// bytes are the ANSI code page's).
QStringList programArguments(const QByteArrayList& given,
                             QStringList (*decode)(const QByteArrayList&));

// Whether standard output is a terminal that takes escape sequences (a
// progress line's): any terminal on POSIX systems; on Windows a console,
// whose virtual-terminal processing this switches on (false where the
// console has none, before Windows 10: the output is then plain lines).
bool terminalOutput();
// Writes text for people to file (stdout or stderr): the locale's bytes on
// POSIX systems; on Windows UTF-16 to a console, whatever its code page,
// and UTF-8 to a file or a pipe, so that no name is shown as "?". 0, or the
// system's reason (an errno value) when the text was not all written.
int writeText(std::FILE* file, const QString& text);

// Columns of the terminal standard output writes to; 0 when unknown.
int terminalColumns();

} // namespace platform
