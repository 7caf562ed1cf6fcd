// The replacement file over the system's file calls (platform/files.h).
#include "dfufile.h"
#include "files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

namespace dfu {

namespace {
// Names tried before a create gives up: each collision is someone else's
// file at a name that was free a moment before.
constexpr int kCreateAttempts = 100;
constexpr std::size_t kUniqueLength = 6;
const char kPartialEnding[] = ".partial-";
// The longest name of a file in a folder, in bytes: ext4's, and no more
// than Windows' 255 UTF-16 units.
constexpr std::size_t kMaxNameBytes = 255;

// The length of the last part of path, the file's own name.
std::size_t nameLength(const std::string& path) {
    const std::string folder = platform::folderOf(path);
    const bool bare =
        folder == "." && path.compare(0, 2, "./") != 0 && path.compare(0, 2, ".\\") != 0;
    if (bare || path.compare(0, folder.size(), folder) != 0)
        return path.size();
    const std::size_t start = folder.size();
    const bool separator = start < path.size() && (path[start] == '/' || path[start] == '\\');
    return path.size() - start - (separator ? 1 : 0);
}

// target with as many bytes off its end as keep its name, with ending,
// within kMaxNameBytes; a character encoded in several bytes goes whole.
std::string temporaryStem(const std::string& target, std::size_t ending) {
    const std::size_t name = nameLength(target);
    if (name + ending <= kMaxNameBytes || ending >= kMaxNameBytes)
        return target;
    std::size_t keep = target.size() - std::min(name, name + ending - kMaxNameBytes);
    while (keep > target.size() - name && (uint8_t(target[keep]) & 0xC0) == 0x80)
        --keep;
    return target.substr(0, keep);
}
} // namespace

bool ReplacementFile::create(const std::string& target) {
    discard();
    const std::size_t letters = std::strlen(platform::kUniqueNameLetters);
    std::random_device random;
    std::uniform_int_distribution<std::size_t> letter(0, letters - 1);
    // A target whose name is near the longest allowed gives up the end of
    // its name here: with the ending the name was too long to make, and the
    // backup then blamed the file.
    const std::string stem =
        temporaryStem(target, std::strlen(kPartialEnding) + kUniqueLength) + kPartialEnding;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::string name = stem;
        for (std::size_t i = 0; i < kUniqueLength; ++i)
            name += platform::kUniqueNameLetters[letter(random)];
        m_file = platform::createNewFile(name);
        if (!m_file && errno == EEXIST)
            continue;
        if (!m_file)
            return false;
        m_target = target;
        m_temporary = std::move(name);
        return true;
    }
    errno = EEXIST;
    return false;
}

bool ReplacementFile::commit(std::string& error) {
    if (!m_file) {
        error = std::strerror(EBADF);
        return false;
    }
    const bool done = platform::replaceFile(m_file, m_temporary, m_target, error);
    m_file = nullptr;
    m_temporary.clear();
    return done;
}

void ReplacementFile::discard() {
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    if (!m_temporary.empty())
        platform::removeFile(m_temporary);
    m_temporary.clear();
}

} // namespace dfu
