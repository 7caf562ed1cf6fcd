#pragma once
// The files a fuzzer linked with memoryfiles.cpp has, by name: what
// platform/files.h's functions made and replaced there.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace memoryfiles {

using Bytes = std::vector<uint8_t>;

void clear();
bool exists(const std::string& name);
// Empty when there is no such file.
Bytes read(const std::string& name);
void write(const std::string& name, const Bytes& bytes);
// Files there, those still open included.
std::size_t count();

} // namespace memoryfiles
