#include "folderview.h"

#include <QDir>
#include <QProcess>
#include <QStringList>

// Explorer opens a folder given as its one argument, in the system's own
// path form.
bool showFolder(const QString& folder, QString& why) {
    if (QProcess::startDetached(QStringLiteral("explorer.exe"), {QDir::toNativeSeparators(folder)}))
        return true;
    why = QStringLiteral("explorer.exe could not be started");
    return false;
}
