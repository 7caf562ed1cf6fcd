#pragma once
// tavrin-dfu: the firmware engine without a window, for support, quality
// assurance, scripts and flashing stations. Commands list, check, pack,
// upgrade, backup, verify and reset; see the man page tavrin-dfu(1).

#include <QStringList>

namespace cli {

// Runs a command line (decodeArguments, with the QCoreApplication that
// exists); returns the exit status (exitstatus.h).
int run(const QStringList& arguments);

// True once SIGINT has arrived (after installInterruptHandler).
bool interrupted();
void installInterruptHandler();

} // namespace cli
