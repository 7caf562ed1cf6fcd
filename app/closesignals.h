#pragma once

class QWindow;

// Makes the system's requests to stop (platform/stoprequests.h: Ctrl+C, a
// desktop session that ends, a terminal or console that closes, on Windows
// a log-off or a shutdown) ask window to close, exactly as its close box
// does: during a write the window waits for the result instead of dying
// mid-block with the accessory half-written. The handlers are installed at
// the first call; a later call only points them at another window. Call from
// the GUI thread.
void closeWindowOnSignals(QWindow* window);
