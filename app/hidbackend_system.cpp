#include "hidbackend.h"

// The shipping program, on Linux with hidapi's hidraw backend and on Windows
// with its HID class one: the system's devices are there as they are, the
// library needs no set-up of its own, and the program takes no options.
std::optional<int> prepareHidBackend(const QStringList&) {
    return std::nullopt;
}

std::optional<int> answerCommandLine(int, char**) {
    return std::nullopt;
}
