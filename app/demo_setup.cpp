#include "demoaccessory.h"
#include "hidbackend.h"
#include "simbus.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

namespace {

// Test hook of the demo program only: when set to a number of milliseconds,
// every visible window is sent a close event that long after the event loop
// starts, the same event the window system's close box delivers.
const char kCloseAfterVariable[] = "TAVRIN_DEMO_CLOSE_AFTER_MS";

void scheduleClose() {
    bool ok = false;
    const int delayMs = qEnvironmentVariableIntValue(kCloseAfterVariable, &ok);
    if (!ok)
        return;
    QTimer::singleShot(delayMs, [] {
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (window->isVisible())
                QCoreApplication::postEvent(window, new QCloseEvent);
        }
    });
}

} // namespace

void prepareHidBackend() {
    sim::AccessoryConfig config = demo::accessoryConfig();
    config.recordLimit = demo::kRecordLimit;
    sim::Bus::addAccessory(config);
    scheduleClose();
}
