#include "filenames.h"

#include <QFile>

namespace platform {

// Latin-1 bytes would name a different file on a UTF-8 file system as soon
// as the path holds a character outside ASCII (a user's home folder, say).
QByteArray fileNameBytes(const QString& name) {
    return QFile::encodeName(name);
}

QString fileNameText(const QByteArray& bytes) {
    return QFile::decodeName(bytes);
}

} // namespace platform
