// The replacement file over the system's file calls (platform/files.h).
#include "dfufile.h"
#include "files.h"

#include <cerrno>
#include <cstring>
#include <random>

namespace dfu {

namespace {
// Names tried before a create gives up: each collision is someone else's
// file at a name that was free a moment before.
constexpr int kCreateAttempts = 100;
constexpr std::size_t kUniqueLength = 6;
} // namespace

bool ReplacementFile::create(const std::string& target) {
    discard();
    const std::size_t letters = std::strlen(platform::kUniqueNameLetters);
    std::random_device random;
    std::uniform_int_distribution<std::size_t> letter(0, letters - 1);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::string name = target + ".partial-";
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
