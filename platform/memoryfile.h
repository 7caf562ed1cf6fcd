#pragma once
// Files that live in memory, as far as the system allows: Linux keeps them
// in memory only; Windows in a temporary file that its cache holds where it
// can, gone when closed, also when the program ends without closing it.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// An empty one, open for reading and writing; null with the system's reason
// in error.
std::FILE* memoryFile(std::string& error);

// One holding a copy of bytes, at its start, to read them as a file; null
// when none can be had.
std::FILE* openBytes(const std::vector<uint8_t>& bytes);

} // namespace platform
