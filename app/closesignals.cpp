#include "closesignals.h"

#include "stoprequests.h"

#include <QDebug>
#include <QPointer>
#include <QWindow>

void closeWindowOnSignals(QWindow* window) {
    platform::onStopRequestsInEventLoop([target = QPointer<QWindow>(window)](int number) {
        qInfo() << "Signal" << number << "received: closing the window";
        if (target)
            target->close();
    });
}
