#pragma once
// Exit statuses of tavrin-dfu: one per class of failure, so that scripts can
// tell a missing accessory from a bad file or a failed transfer.

#include <cstdint>

namespace cli {

enum ExitStatus : int {
    Success = 0,
    // Standard output could not be written (a full disk): the result is lost.
    OutputLost = 1,
    UsageError = 2,
    NoDevice = 3,
    FileInvalid = 4,
    DeviceFailed = 5,
    VerifyMismatch = 6,
    // upgrade --newer-only: the file is not newer than the accessory's
    // firmware, or one of them does not state its version.
    NotNewer = 7,
    // 128 + the signal, as shells report a command a signal ended: SIGHUP,
    // SIGINT (Ctrl+C), SIGTERM.
    HungUp = 129,
    Interrupted = 130,
    Terminated = 143,
};

// The class of an engine result code: file codes are the file's fault, a
// failed connect means no usable accessory, everything else the device's.
ExitStatus statusOfCode(int32_t code);

// The table of exit statuses for --help, one "  N  meaning" line each.
const char* exitStatusHelp();

} // namespace cli
