#include "messagelog.h"

// Qt writes a program's log lines to standard error here.
void logToRedirectedStandardError() {}
