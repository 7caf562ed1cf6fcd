// Windows: the system is asked to stay awake (no sleep when idle) while the
// lock is held. A shutdown or logoff the person asks for is not held off
// here: Windows ties that to a window (ShutdownBlockReasonCreate).
#include "sessioninhibitor.h"

#include <windows.h>

struct SessionInhibitor::Private {
    bool held = false;
};

SessionInhibitor::SessionInhibitor(QString, QObject* parent) : QObject(parent), d(new Private) {}

SessionInhibitor::~SessionInhibitor() {
    release();
}

// The request belongs to the calling thread: acquire and release are called
// from the same one (the GUI thread, or the flasher's main thread). It is
// answered at once, so there is nothing to wait for.
void SessionInhibitor::acquire(Wait) {
    d->held = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
}

void SessionInhibitor::release() {
    if (d->held)
        SetThreadExecutionState(ES_CONTINUOUS);
    d->held = false;
}

bool SessionInhibitor::held() const {
    return d->held;
}
