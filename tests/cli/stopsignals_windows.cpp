#include "stopsignals.h"

QList<StopSignal> stopSignals() {
    return {};
}

int brokenPipeSignal() {
    return 0;
}

bool startAndInterrupt(QProcess&, const QString&, const QStringList&, int) {
    return false;
}
