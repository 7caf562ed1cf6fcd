#pragma once
// The engine calls that device tests repeat.

#include "hiddfu.h"

#include <QElapsedTimer>
#include <QThread>

namespace enginecalls {

inline int32 connectAccessory() {
    return hidDfuConnect(kHidDfuVendorId, kHidDfuProductId, 0, 0);
}

// Waits, as the progress relay does, until no operation runs; false when
// timeoutMs passed first. Runs no events: the engine needs none.
inline bool waitUntilIdle(int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (hidDfuGetProgress() != kHidDfuNothingRunning) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}

} // namespace enginecalls
