// The file functions of platform/files.h over files held in memory, linked
// into a fuzzer in place of the system's: a backup that made, synced and
// renamed a file on disk in every run fuzzed twelve times slower. Names are
// plain keys: no folders, no links; every name may be written.
#include "memoryfiles.h"

#include "files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace {

std::map<std::string, memoryfiles::Bytes> g_files;

// A file made by createNewFile, until it is closed: its stream's buffer.
struct Open {
    std::string name;
    char* buffer = nullptr;
    std::size_t size = 0;
};
// Each at a fixed place: the stream writes its buffer's address there.
std::map<std::FILE*, std::unique_ptr<Open>> g_open;

} // namespace

namespace memoryfiles {

void clear() {
    g_files.clear();
}

bool exists(const std::string& name) {
    return g_files.count(name) > 0;
}

Bytes read(const std::string& name) {
    const auto found = g_files.find(name);
    return found == g_files.end() ? Bytes() : found->second;
}

void write(const std::string& name, const Bytes& bytes) {
    g_files[name] = bytes;
}

std::size_t count() {
    return g_files.size() + g_open.size();
}

} // namespace memoryfiles

namespace platform {

const char* const kUniqueNameLetters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

std::FILE* openRegularFile(const char* path, std::string& error) {
    const auto found = g_files.find(path);
    if (found == g_files.end()) {
        error = std::strerror(ENOENT);
        return nullptr;
    }
    const memoryfiles::Bytes& bytes = found->second;
    std::FILE* file = std::tmpfile();
    if (file && (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
                 std::fseek(file, 0, SEEK_SET) != 0)) {
        std::fclose(file);
        file = nullptr;
    }
    if (!file)
        error = std::strerror(errno);
    return file;
}

std::string resolveWriteTarget(const std::string& path, std::string&) {
    return path;
}

std::FILE* createNewFile(const std::string& name) {
    if (g_files.count(name)) {
        errno = EEXIST;
        return nullptr;
    }
    auto open = std::make_unique<Open>();
    open->name = name;
    std::FILE* file = ::open_memstream(&open->buffer, &open->size);
    if (file)
        g_open[file] = std::move(open);
    return file;
}

namespace {
// Closes a file of createNewFile and hands back its bytes; false when the
// stream failed.
bool close(std::FILE* file, memoryfiles::Bytes& bytes) {
    const auto found = g_open.find(file);
    if (found == g_open.end())
        std::abort();
    const bool closed = std::fclose(file) == 0;
    Open& open = *found->second;
    const auto* start = reinterpret_cast<const uint8_t*>(open.buffer);
    bytes.assign(start, start + open.size);
    std::free(open.buffer);
    g_open.erase(found);
    return closed;
}
} // namespace

bool replaceFile(std::FILE* file, const std::string& name, const std::string& target,
                 std::string& error) {
    memoryfiles::Bytes bytes;
    if (!close(file, bytes)) {
        error = std::strerror(EIO);
        return false;
    }
    (void)name;
    g_files[target] = std::move(bytes);
    return true;
}

// A file of createNewFile that its owner closed itself (ReplacementFile's
// discard) goes with its name.
void removeFile(const std::string& name) {
    g_files.erase(name);
    for (auto it = g_open.begin(); it != g_open.end();) {
        if (it->second->name == name) {
            std::free(it->second->buffer);
            it = g_open.erase(it);
        } else {
            ++it;
        }
    }
}

bool holdOpenFile(std::FILE*) {
    return true;
}

bool removeUnheldFile(const std::string& name) {
    return g_files.erase(name) > 0;
}

bool sameFile(const std::string& a, const std::string& b) {
    return a == b && g_files.count(a);
}

bool regularFile(const std::string& name, long long* size) {
    const auto found = g_files.find(name);
    if (found == g_files.end())
        return false;
    if (size)
        *size = static_cast<long long>(found->second.size());
    return true;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool canCreateFilesIn(const std::string&) {
    return true;
}

} // namespace platform
