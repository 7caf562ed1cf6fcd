#include "hidbackend.h"

// The kernel's hidraw nodes are there as they are; hidapi-hidraw needs no
// set-up of its own, and the shipping program takes no options.
std::optional<int> prepareHidBackend(const QStringList&) {
    return std::nullopt;
}

std::optional<int> answerCommandLine(int, char**) {
    return std::nullopt;
}
