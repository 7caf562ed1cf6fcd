#include "memoryfile.h"

namespace platform {

std::FILE* openBytes(const std::vector<uint8_t>& bytes) {
    std::string error;
    std::FILE* file = memoryFile(error);
    if (file && (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
                 std::fseek(file, 0, SEEK_SET) != 0)) {
        std::fclose(file);
        file = nullptr;
    }
    return file;
}

} // namespace platform
