#include "startup.h"

#include <QMetaType>

#include <string>

void registerEngineMetaTypes() {
    QMetaType::registerTypedef("uint8", QMetaType::UChar);
    QMetaType::registerTypedef("int32", QMetaType::Int);
    // Deliberately not declared as a metatype at compile time: registering
    // the name is all that queued connections by signature need.
    qRegisterMetaType<std::string>("std::string");
}
