#pragma once
// Folders for temporary files: the simulated bus's, the tests', the fuzzers'.

#include <string>

namespace platform {

// Makes a new, empty folder in the system's folder for temporary files
// ($TMPDIR, else /tmp; on Windows the user's), named prefix followed by what
// makes it new, and returns its path with '/' between its elements; empty
// when none can be made.
std::string makeTemporaryFolder(const std::string& prefix);

} // namespace platform
