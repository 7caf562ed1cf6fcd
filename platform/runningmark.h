#pragma once
// Tells the setup and the uninstaller that one of the installed programs
// runs: files of its folder are in use, and replacing or deleting them now
// would leave a half-updated folder, or an orphan nobody can uninstall.

// The name of what marks it (on Windows a named mutex, in the session's and
// in the global namespace); packaging/windows-setup.nsi looks for the same.
constexpr const char* kRunningMarkName = "TAVRIN-installator-running";

// Marks this process for its whole life; the system drops the mark when the
// process ends, however it ends. Nothing to do where no setup looks for it.
void markProgramRunning();
