// The upgrade's status handling against status replies and report outcomes
// from the input (its first byte chooses the report length, 7 to 70). Every
// run ends with one exit code of the upgrade's own, no wait longer than 60 s
// is ever asked of the thread, and a run that succeeds has sent exactly the
// image. Waits are counted, not slept, so that a run takes no real time.
#include "dfufile.h"
#include "fuzzdevice.h"
#include "fuzzworker.h"
#include "hiddfu.h"
#include "workersleep.h"

#include <algorithm>

namespace {
constexpr auto kLongestWait = std::chrono::milliseconds(60000);
// Time passes only by the waits, so that the whole-write bound is reached
// after as many of them as a real device would need.
std::chrono::steady_clock::time_point virtualNow;
} // namespace

// Replace the engine's own clock: the wait is checked, not slept.
void workerSleepUntil(std::chrono::steady_clock::time_point deadline) {
    if (deadline - virtualNow > kLongestWait)
        __builtin_trap();
    virtualNow = std::max(virtualNow, deadline);
}

std::chrono::steady_clock::time_point workerNow() {
    return virtualNow;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzdevice::Bytes image = dfu::makeImage(150, 3);
    static const std::string path = [] {
        const std::string p = fuzzdevice::folder() + "/fuzz.dfu";
        if (!fuzzdevice::writeFile(p, dfu::makeDfuFile(image)))
            __builtin_trap();
        return p;
    }();
    const auto [exits, code] = fuzzdevice::runWorker(data, size, path, &AsyncWorker::DoUpgrade);

    if (exits != 1)
        __builtin_trap();
    if (code != HidDfuResult::Success) {
        using R = HidDfuResult;
        if (code != R::UpgradeFailed && code != R::DriverOperationFailed &&
            code != R::FailedToClearStatus && code != R::FirmwareCorrupt && code != R::TimedOut)
            __builtin_trap();
        return 0;
    }
    // The counted data of the download blocks since the last status clear.
    fuzzdevice::Bytes received;
    for (const fuzzdevice::Bytes& report : fuzzdevice::sent()) {
        if (report.size() == 2 && report[0] == 3)
            received.clear();
        else if (report[0] == 1)
            received.insert(received.end(), report.begin() + 6,
                            report.begin() + 6 + dfu::le16(report.data() + 4));
    }
    if (received != image)
        __builtin_trap();
    return 0;
}
