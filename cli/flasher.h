#pragma once
// tavrin-dfu: the firmware engine without a window, for support, quality
// assurance, scripts and flashing stations. Commands list, check, pack,
// upgrade, backup, verify and reset; see the man page tavrin-dfu(1).

#include "exitstatus.h"

#include <QStringList>

namespace cli {

// Runs a command line (decodeArguments, with the QCoreApplication that
// exists); returns the exit status (exitstatus.h).
int run(const QStringList& arguments);

// True once SIGINT, SIGTERM or SIGHUP has arrived (after
// installInterruptHandler); each ends a run as Ctrl+C does.
bool interrupted();
// True once a second one has arrived: someone wants the write cut short. One
// that the parent process passes on after another came is not a second.
bool interruptedAgain();
// The first of them that arrived, 0 before.
int interruptSignal();
// 128 + that signal, and what people read: "Interrupted", "Terminated",
// "Hung up".
ExitStatus interruptStatus();
QString interruptText();
void installInterruptHandler();

} // namespace cli
