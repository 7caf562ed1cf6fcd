#include "simfolder.h"

#include <filesystem>
#include <stdexcept>
#include <windows.h>

namespace sim {

std::string makeTemporaryFolder() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    // The process ID and a counter name it; a leftover of an earlier process
    // with the same ID is skipped, never reused.
    for (unsigned attempt = 0; !error && attempt < 1000; ++attempt) {
        const fs::path folder = base / ("simaccessory-" + std::to_string(GetCurrentProcessId()) +
                                        "-" + std::to_string(attempt));
        if (fs::create_directory(folder, error))
            return folder.generic_string();
    }
    throw std::runtime_error("cannot create a folder for the simulated HID bus");
}

} // namespace sim
