#pragma once

class QWindow;

// Makes SIGINT, SIGTERM and SIGHUP (Ctrl+C, a desktop session that ends, a
// terminal that closes) ask window to close, exactly as its close box does:
// during a write the window waits for the result instead of dying mid-block
// with the accessory half-written. SIGPIPE is ignored: a closed output is no
// reason to stop. A signal ignored when the program started (nohup) stays
// ignored. The handlers are installed at the first call; a later call
// only points them at another window. Call from the GUI thread.
// On Windows the console's control events (Ctrl+C, Ctrl+Break, the console
// closed) do the same for a program run from a console.
void closeWindowOnSignals(QWindow* window);
