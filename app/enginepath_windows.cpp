#include "enginepath.h"

// Qt's encodeName gives the ANSI code page here, which has no bytes for most
// of Unicode: a user folder named in another script would be lost.
QByteArray enginePath(const QString& path) {
    return path.toUtf8();
}
