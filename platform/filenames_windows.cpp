#include "filenames.h"

namespace platform {

// Qt's encodeName gives the ANSI code page here, which has no bytes for most
// of Unicode: a user folder named in another script would be lost.
QByteArray fileNameBytes(const QString& name) {
    return name.toUtf8();
}

QString fileNameText(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

} // namespace platform
