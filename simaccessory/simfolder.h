#pragma once
// The bus's temporary folder, one source per kind of system.

#include <string>

namespace sim {

// Makes a new, empty folder named simaccessory-* in the system's folder for
// temporary files and returns its path with '/' between its elements; throws
// std::runtime_error when none can be made.
std::string makeTemporaryFolder();

} // namespace sim
