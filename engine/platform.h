#pragma once
// What the engine needs of the operating system, one source file per
// platform (platform_linux.cpp, platform_windows.cpp); the procedures call
// only these.

#include <QLoggingCategory>

#include <cstdint>
#include <cstdio>
#include <string>

struct hid_device_;
typedef struct hid_device_ hid_device;

namespace platform {

// Where warnOpenFailed logs: kHidDfuAdviceLog.
Q_DECLARE_LOGGING_CATEGORY(adviceLog)

// Byte length of the interface's longest feature report, report ID included,
// read from its report descriptor; 0, with a warning in the message log, when
// it cannot be had. device may be null (not opened): the route that needs no
// open handle is tried alone.
uint16_t featureReportLength(hid_device* device, const char* path);

// Logs why the node at path could not be opened (error, or the system's
// answer for it when 0) and what the person can do about it; returns that
// reason, "" when the system gave none.
std::string warnOpenFailed(const char* path, int error);

// A file that lives in memory only, open for reading and writing; null with
// the system's reason in error.
std::FILE* memoryFile(std::string& error);

// The folder that holds the file at path ("." for a bare name), and whether
// this user may make files in folder.
std::string folderOf(const std::string& path);
bool canCreateFilesIn(const std::string& folder);

} // namespace platform
