#pragma once
// What of a message log line goes into the file a person sends to support,
// and how it reads there. The message log itself keeps every line as it was
// written; only the file (and the lines kept for the error page's details)
// are shaped here.

#include <QString>

class LogContent {
public:
    // The message as the file takes it; a null string when the file skips
    // it. Progress is kept once per tenth (the relay's line; the wizard's
    // own echo of it is dropped), control characters are escaped, and a
    // device other than the accessory keeps its serial number to itself.
    QString shape(const char* category, const QString& message);

private:
    int m_lastTenth = -1;
};
