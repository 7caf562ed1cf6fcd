#include "focustracker.h"
#include "installator.h"
#include "startup.h"

#include <qqml.h>

// Apart from startup.cpp, so that a program that only registers the
// metatypes does not link the controller and with it the engine.
void registerQmlTypes() {
    qmlRegisterType<installator>("installator", 1, 0, "Installator");
    qmlRegisterType<FocusTracker>("installator", 1, 0, "FocusTracker");
}
