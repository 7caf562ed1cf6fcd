#pragma once
// What the tests need of the system where Linux and Windows differ, beyond
// what platform/ gives the programs, one source per platform
// (testplatform_linux.cpp, testplatform_windows.cpp), so
// that each test keeps one table of rows: a row that needs what only Linux
// has (sysfs, /dev, a lock holder's name) skips itself elsewhere, and a FIFO
// row takes the system's own kind of pipe.

#include "temporaryfolder.h"

#include <string>

namespace testplatform {

// Whether this is Linux, for rows that need sysfs, /dev or /proc (where the
// holder of a device lock is found).
bool isLinux();

// Makes what a reader opening it as a file would wait on for a writer: a
// FIFO at path (POSIX), a named pipe (Windows, whose name is returned in
// place of path; path only names it). Empty when none can be made.
std::string makeFifo(const std::string& path);

// Makes a symbolic link at path to target; false where links need a
// privilege (Windows), and the rows that need one are Linux rows.
bool makeLink(const std::string& target, const std::string& path);

// Gives the link at path to another user (nobody), as a link that user
// planted; false where that needs a privilege this process lacks (not root)
// or links are Linux rows.
bool giveLinkToAnotherUser(const std::string& path);

// Makes this process's writes past bytes into any file fail, as on a full
// disk (Linux: "File too large"); -1 lifts the limit again. False where
// there is no such limit (Windows).
bool limitFileSize(long long bytes);

// A device that reads as an empty file: /dev/null, NUL.
std::string nullDevice();

// A folder of its own for temporary files (platform/temporaryfolder.h).
using platform::makeTemporaryFolder;

} // namespace testplatform
