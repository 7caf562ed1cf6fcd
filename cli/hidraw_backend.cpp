#include "clibackend.h"

#include <QCommandLineOption>
#include <QString>

// The kernel's hidraw nodes are there as they are: nothing to choose or set up.
namespace cli {

QList<QCommandLineOption> backendOptions() {
    return {};
}

bool prepareBackend(const QCommandLineParser&, QString&) {
    return true;
}

QStringList backendChildArguments(const QCommandLineParser&) {
    return {};
}

} // namespace cli
