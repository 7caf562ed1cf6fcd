#pragma once

// On Windows a program of the GUI subsystem sends Qt's log lines to the
// debugger only, even when whoever started it redirected its standard error
// (`tavrin-installator.exe 2> log.txt`, a station's script, a test). Called
// first thing in main: when standard error is a file or a pipe, the log lines
// go there, one per line, in UTF-8. Elsewhere Qt already writes them to
// standard error, and this does nothing.
void logToRedirectedStandardError();
