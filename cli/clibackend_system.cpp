#include "clibackend.h"

#include <QCommandLineOption>
#include <QString>

// tavrin-dfu, on Linux with hidapi's hidraw backend and on Windows with its HID
// class one: the system's devices are there as they are, nothing to choose or
// set up.
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
