#include "startup.h"

#include "focustracker.h"
#include "installator.h"

#include <QMetaType>
#include <qqml.h>

#include <string>

void registerEngineMetaTypes() {
    QMetaType::registerTypedef("uint8", QMetaType::UChar);
    QMetaType::registerTypedef("int32", QMetaType::Int);
    // Deliberately not declared as a metatype at compile time: registering
    // the name is all that queued connections by signature need.
    qRegisterMetaType<std::string>("std::string");
}

void registerQmlTypes() {
    qmlRegisterType<installator>("installator", 1, 0, "Installator");
    qmlRegisterType<FocusTracker>("installator", 1, 0, "FocusTracker");
}
