#include "folderview.h"

#include <QProcess>
#include <QStringList>

// xdg-open hands a folder to whichever file manager the desktop names; it
// is found on PATH, as a desktop launcher would find it.
bool showFolder(const QString& folder, QString& why) {
    if (QProcess::startDetached(QStringLiteral("xdg-open"), {folder}))
        return true;
    why = QStringLiteral("xdg-open could not be started");
    return false;
}
