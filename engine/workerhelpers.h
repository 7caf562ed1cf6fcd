#pragma once
// What the worker's procedures share; for the engine's own files only.

#include "hiddfu.h"

#include <string>

namespace worker {

inline std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

// The share of an image done while remaining of total bytes are still due,
// in double precision and truncated, as the progress ring shows it: 0..99.
inline uint8 progressOf(double remaining, double total) {
    return uint8(100.0 - (remaining / total) * 100.0);
}

} // namespace worker
