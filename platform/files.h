#pragma once
// What the programs ask of the file system where systems differ: opening a
// firmware file without ever waiting, where a write would land, replacing a
// file in one step, and what a name is. Names are bytes as filenames.h makes
// them.

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The reasons these give for anything but a regular file, and for a link
// that leads nowhere.
constexpr const char* kNotRegularFile = "not a regular file";
constexpr const char* kDanglingLink = "a symbolic link to nothing";
// The reason for a link in a shared folder (sticky, writable by all) that
// neither this user nor the folder's owner made.
constexpr const char* kForeignLink = "a symbolic link that another user made in a shared folder";

// Opens path for reading when it is a regular file, without waiting for a
// writer on the way (a FIFO, a device); null with the reason in error.
std::FILE* openRegularFile(const char* path, std::string& error);

// The regular file a write to path would reach, links followed; path itself
// when nothing is there yet. Empty with the reason in error otherwise, also
// for a link the system would not follow for this user (kForeignLink).
std::string resolveWriteTarget(const std::string& path, std::string& error);

// Letters a unique name may take: both cases where names keep them apart.
extern const char* const kUniqueNameLetters;
// Makes the new file name, failing with EEXIST on anything already there (a
// link or a FIFO included), open for reading and writing; null with errno set.
std::FILE* createNewFile(const std::string& name);
// Flushes file, has its bytes on the disk, gives it the permissions of the
// file at target where the system keeps them per file, closes it and renames
// name over target in one step. False with the system's reason in error;
// name is then gone and target untouched.
bool replaceFile(std::FILE* file, const std::string& name, const std::string& target,
                 std::string& error);
void removeFile(const std::string& name);

// Marks the open file as in use for as long as this process keeps it open,
// so that removeUnheldFile leaves it alone wherever it is called from; false
// when the mark could not be made.
bool holdOpenFile(std::FILE* file);
// Removes the regular file name unless a process holds it (holdOpenFile) or
// it is empty (a file being made, not yet held); false when it stays. Never
// follows a link and never waits.
bool removeUnheldFile(const std::string& name);

// Whether the two names name one file (links followed); false when either
// does not exist.
bool sameFile(const std::string& a, const std::string& b);
// Whether name is a regular file (links followed), and its size.
bool regularFile(const std::string& name, long long* size = nullptr);

// The folder that holds the file at path ("." for a bare name), and whether
// this user may make files in folder.
std::string folderOf(const std::string& path);
bool canCreateFilesIn(const std::string& folder);

} // namespace platform
