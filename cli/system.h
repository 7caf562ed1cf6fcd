#pragma once
// What the flasher needs of the operating system where POSIX systems and
// Windows differ, one source per platform (system_posix.cpp,
// system_windows.cpp): requests to stop, text for people, file names and a
// file over bytes in memory.

#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace cli::system {

// The bytes the file functions here take for a name, and back: the locale's
// on POSIX systems; UTF-8 on Windows, where this program's file functions and
// its file library turn UTF-8 names into UTF-16 ones, so that no name outside
// the ANSI code page is lost.
QByteArray fileNameBytes(const QString& name);
QString fileNameText(const QByteArray& bytes);

// The program's arguments from the bytes main was given (arguments.h):
// POSIX systems pass bytes; Windows passes UTF-16, which only Qt's own
// arguments keep whole (main's bytes are the ANSI code page's).
QStringList programArguments(const QByteArrayList& given);

// Has record(number, passedOn) called, from a signal handler or a thread of
// the system's, whenever the program is asked to stop: SIGINT (Ctrl+C),
// SIGTERM and SIGHUP on POSIX systems, where SIGPIPE is ignored as well (a
// reader that went away is no reason to stop writing firmware); on Windows
// the console's Ctrl+C and Ctrl+Break as SIGINT, and its closing, a logoff or
// a shutdown as SIGTERM. The exit status is then 128 + number. passedOn: the
// parent process sent it (POSIX only), which may be a request passed on that
// reached this process by itself as well. A signal that was ignored when the
// program started (nohup) stays ignored.
void onStopRequests(void (*record)(int number, bool passedOn));
// Calls start, which starts child processes, with stop requests held back:
// a child starts with them blocked, so that one arriving before it has set
// its handler (onStopRequests, which lets them through) waits for it instead
// of ending the child without a result. Windows: calls start.
void holdingStopRequests(const std::function<void()>& start);
// What people read for a stop request: "Interrupted", "Terminated",
// "Hung up".
QString stopText(int number);
// The exit statuses of stop requests, as lines of the help's list.
const char* stopStatusHelp();
// Passes a stop request on to a child process that need not have it yet (one
// sent with kill to this process alone). Windows: nothing to do, a console's
// events reach every process attached to it.
void passStopRequest(qint64 processId, int number);

// What the advice for a missing accessory adds on this system, after
// "check the cable, run `tavrin-dfu list`": on Linux the udev rule that
// gives users access and where it is described.
QString accessAdvice();

// Whether standard output is a terminal that takes the progress line's
// escape sequences: any terminal on POSIX systems; on Windows a console,
// whose virtual-terminal processing this switches on (false where the
// console has none, before Windows 10: the output is then plain lines).
bool terminalOutput();
// Writes text for people to file (stdout or stderr): the locale's bytes on
// POSIX systems; on Windows UTF-16 to a console, whatever its code page,
// and UTF-8 to a file or a pipe, so that no name is shown as "?".
void writeText(std::FILE* file, const QString& text);

// Columns of the terminal standard output writes to; 0 when unknown.
int terminalColumns();

// Whether the two names name one file (links followed); false when either
// does not exist.
bool sameFile(const std::string& a, const std::string& b);

// Whether name is a regular file (links followed), and its size.
bool regularFile(const std::string& name, qint64* size = nullptr);

// A file to read bytes from, which must outlive it; null when none can be had.
std::FILE* openBytes(std::vector<uint8_t>& bytes);

} // namespace cli::system
