#include "enginepath.h"

#include <QFile>

// Latin-1 bytes would name a different file on a UTF-8 file system as soon
// as the path holds a character outside ASCII (a user's home folder, say).
QByteArray enginePath(const QString& path) {
    return QFile::encodeName(path);
}
