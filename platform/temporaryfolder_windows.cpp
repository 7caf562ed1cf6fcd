#include "temporaryfolder.h"

#include <filesystem>
#include <windows.h>

namespace platform {

// The process ID, the time and a counter name it; a leftover of an earlier
// process with the same ID is skipped, never reused.
std::string makeTemporaryFolder(const std::string& prefix) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    for (unsigned attempt = 0; !error && attempt < 1000; ++attempt) {
        const fs::path folder =
            base / (prefix + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(GetTickCount()) + "-" + std::to_string(attempt));
        if (fs::create_directory(folder, error))
            return folder.generic_string();
    }
    return {};
}

} // namespace platform
