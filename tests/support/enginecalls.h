#pragma once
// The engine calls that device tests repeat.

#include "hiddfu.h"

#include <QElapsedTimer>
#include <QThread>

namespace enginecalls {

constexpr uint16_t kVendorId = 0x0A12;
constexpr uint16_t kProductId = 0xFFFE;

inline int32 connectAccessory() {
    return hidDfuConnect(kVendorId, kProductId, 0, 0);
}

// Waits, as the progress relay does, until no operation runs; false when
// timeoutMs passed first. Runs no events: the engine needs none.
inline bool waitUntilIdle(int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (hidDfuGetProgress() != 100) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}

} // namespace enginecalls
