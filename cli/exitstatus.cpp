#include "exitstatus.h"

#include "hiddfu.h"
#include "stoprequests.h"

#include <string>

namespace cli {

ExitStatus statusOfCode(int32_t code) {
    switch (code) {
    case HidDfuResult::Success:
        return Success;
    case HidDfuResult::FailedToConnect:
        return NoDevice;
    case HidDfuResult::FailedToOpenFile:
    case HidDfuResult::FailedToWriteFile:
    case HidDfuResult::InvalidFileFormat:
    case HidDfuResult::InvalidFileCrc:
    case HidDfuResult::FileReadFailed:
        return FileInvalid;
    default:
        return DeviceFailed;
    }
}

const char* exitStatusHelp() {
    static const std::string text =
        std::string(
            "Exit status:\n"
            "  0    success\n"
            "  2    usage error (unknown command or option, missing argument, several\n"
            "       accessories attached and none chosen)\n"
            "  3    no device: no accessory found (also after --wait), or it cannot be opened\n"
            "  4    file invalid: missing, unreadable, malformed or unwritable file\n"
            "  5    device failed: the accessory failed or stopped answering\n"
            "  6    verify mismatch: the firmware read back differs from the file\n"
            "  7    not newer: upgrade --newer-only refused a file not newer than the "
            "accessory's\n"
            "       firmware, or one of the two does not state its version\n") +
        platform::stopStatusHelp() +
        "With --all: the status of the first accessory (in list order) that failed.\n";
    return text.c_str();
}

} // namespace cli
