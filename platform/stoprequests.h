#pragma once
// Requests to stop the program that the system sends it: SIGINT (Ctrl+C),
// SIGTERM and SIGHUP on POSIX systems; on Windows the console's Ctrl+C and
// Ctrl+Break (as SIGINT) and its closing, a log-off or a shutdown (as
// SIGTERM). Both programs take them as a person's wish to stop: a write
// cut mid-block leaves the accessory half-written, so each lets the running
// transfer end first, in its own way. SIGPIPE is ignored: a reader that went
// away is no reason to stop writing firmware. A request ignored when the
// program started (nohup, a shell's background job) stays ignored.
//
// On Windows a closing console, a log-off or a shutdown ends the process
// when the handler returns: it returns once the program has ended (or the
// system stops waiting), so that a running block may finish.

#include <QString>

#include <functional>

namespace platform {

// Has record(number, passedOn) called, from a signal handler or a thread of
// the system's, at each request; it may only do what such a handler may.
// passedOn: the parent process sent it (POSIX only), which may be a request
// passed on that reached this process by itself as well. Requests held back
// by holdingStopRequests in the parent arrive now.
void onStopRequests(void (*record)(int number, bool passedOn));

// The same for a program with a Qt event loop: react(number) runs on the
// application object's thread, through its event loop. Installed at the
// first call; a later call only replaces react. Call from that thread.
void onStopRequestsInEventLoop(std::function<void(int number)> react);

// Calls start, which starts child processes, with stop requests held back:
// a child starts with them blocked, so that one arriving before it has set
// its handler (onStopRequests, which lets them through) waits for it instead
// of ending the child without a result. Windows: calls start.
void holdingStopRequests(const std::function<void()>& start);

// What people read for a request: "Interrupted", "Terminated", "Hung up".
QString stopText(int number);
// The exit statuses (128 + number) of the requests, as lines of a help's list.
const char* stopStatusHelp();

// Passes a request on to a child process that need not have it yet (one
// sent with kill to this process alone). Windows: nothing to do, a console's
// events reach every process attached to it.
void passStopRequest(qint64 processId, int number);

} // namespace platform
