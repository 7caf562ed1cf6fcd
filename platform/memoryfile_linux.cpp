#include "memoryfile.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

std::FILE* memoryFile(std::string& error) {
    const int descriptor = ::memfd_create("read-back", MFD_CLOEXEC);
    std::FILE* memory = descriptor < 0 ? nullptr : ::fdopen(descriptor, "w+b");
    if (!memory) {
        error = std::strerror(errno);
        if (descriptor >= 0)
            ::close(descriptor);
    }
    return memory;
}

} // namespace platform
