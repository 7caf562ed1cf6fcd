// The upgrade: the checked image, block by block, with the device's status
// read between blocks.
#include "asyncworker.h"

#include "chiddfuerrorstate.h"
#include "dfufile.h"
#include "files.h"
#include "hidreports.h"
#include "workerhelpers.h"
#include "workersleep.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <chrono>
#include <vector>

using namespace hidreport;
using Code = CHidDfuErrorState::Code;
using worker::progressOf;
using worker::quoted;

static_assert(kHidDfuMaxFirmwareFileBytes == dfu::kMaxFileBytes,
              "the engine and the file checks accept the same files");

namespace {

using std::chrono::milliseconds;

// The whole write's time bound comes from the image alone. A device states
// its own poll timeouts, so a bound built from them is one the device sets:
// asking for 59 s after every block kept a 64 KiB write going for 18 hours.
//
// Each report is allowed what a slow but working full-speed device needs: its
// control transfers at one 1 ms frame per stage (setup, each packet of up to
// 64 bytes, status), for the report itself and for the two status reads of a
// busy wait, and kProgrammingTime to write a block into flash, which covers
// a page erase at every block. kMargin covers one wait of the longest poll
// timeout a device may ask for (60 s), such as an erase of its whole flash
// before the first block. At 64-byte reports that is 60 s and 109 ms a
// report: 67 s for 4 KiB, 183 s for 64 KiB. kLongestBound caps it for the
// largest files (above about 7.3 MiB at 64-byte reports).
constexpr milliseconds kFrame{1};
constexpr int64_t kPacketBytes = 64;
constexpr milliseconds kProgrammingTime{100};
constexpr milliseconds kMargin{60000};
constexpr milliseconds kLongestBound = std::chrono::hours(4);

constexpr milliseconds transferTime(int64_t reportBytes) {
    return kFrame * (2 + (reportBytes + kPacketBytes - 1) / kPacketBytes);
}

milliseconds writeBound(int64_t reports, int64_t reportLength) {
    const milliseconds perReport =
        transferTime(reportLength) + 2 * transferTime(int64_t(kStatusLength)) + kProgrammingTime;
    return std::min(kMargin + perReport * reports, kLongestBound);
}

// A device may refuse a status read while it programs, so a failed read is
// read again until the poll timeout has passed, at most this many times,
// evenly across it: an unplugged device fails every read at once, and reading
// again at once ran a core for the whole poll timeout.
constexpr int kStatusRereads = 10;

bool isReadyState(uint8 state) {
    return state == kStateAppIdle || state == kStateDfuIdle || state == kStateDfuDnloadIdle;
}

} // namespace

int32 AsyncWorker::WaitForStatus(bool sleepFirst) {
    // Every wait is measured from this moment on a monotonic clock.
    const auto start = workerNow();
    const auto pollDeadline = [&] { return start + std::chrono::milliseconds(pollTimeout); };
    const int passes = sleepFirst ? 1 : 2;
    if (sleepFirst) {
        if (int32 late = CheckDeadline(pollDeadline()))
            return late;
        workerSleepUntil(pollDeadline());
    }

    int32 result = Code::Busy;
    uint8 status = 0;
    for (int pass = 1; pass <= passes && result == Code::Busy; ++pass) {
        uint8 state = 0;
        // GetStatus has reported each failure; the last one stands. A reread
        // never sleeps past the whole write's bound.
        for (int reread = 1;; ++reread) {
            const int32 read = GetStatus(status, state);
            if (read == 0)
                break;
            const auto at = start + std::chrono::microseconds(int64_t(pollTimeout) * 1000 * reread /
                                                              kStatusRereads);
            if (read != Code::DriverOperationFailed || sleepFirst || reread > kStatusRereads ||
                workerNow() >= pollDeadline() || at > deadline)
                return read;
            workerSleepUntil(at);
        }
        if (status == kStatusErrFirmware) {
            emit setDefaultMessage(Code::FirmwareCorrupt);
            return Code::FirmwareCorrupt;
        }
        if (status != kStatusOk)
            break;
        if (isReadyState(state))
            return 0;
        if (state != kStateDfuDnBusy || pass == passes)
            break;
        if (int32 late = CheckDeadline(pollDeadline()))
            return late;
        workerSleepUntil(pollDeadline());
        emit setDefaultMessage(Code::Busy);
    }
    return ReportMessage(Code::UpgradeFailed, "Upgrade failed (DFU status code = " +
                                                  std::to_string(unsigned(status)) + ")");
}

int32 AsyncWorker::CheckDeadline(std::chrono::steady_clock::time_point until) {
    if (until <= deadline)
        return 0;
    const auto allowed = std::chrono::duration_cast<std::chrono::seconds>(deadline - startTime);
    return ReportMessage(Code::TimedOut, "Device did not complete the write within " +
                                             std::to_string(allowed.count()) +
                                             " s, the time allowed for " +
                                             std::to_string(imageLength) + " bytes");
}

int32 AsyncWorker::CompleteUpgrade(uint8_t* report, uint16_t blockNumber) {
    std::fill(report, report + featureReportLength, uint8_t(0));
    report[0] = kDataId;
    report[kDownloadRequest] = kDfuDnload;
    dfu::putLe16(report + kDownloadBlockNumber, blockNumber);
    if (hid_send_feature_report(deviceHandle, report, size_t(featureReportLength)) == -1)
        return ReportMessage(Code::DriverOperationFailed,
                             "Write to device failed attempting to complete upgrade");
    return WaitForStatus(true);
}

void AsyncWorker::DoUpgrade() {
    emit progressChanged(0);

    // The whole file is kept in memory for the write, so that what is sent is
    // exactly what was checked, whatever happens to the file meanwhile.
    std::vector<uint8_t> bytes = std::move(image);
    int32 result = 0;
    if (!fileName.empty()) {
        std::string why;
        std::FILE* file = platform::openRegularFile(fileName.c_str(), why);
        if (!file) {
            // A FIFO or device node would block the worker, and with it the
            // program's exit, until something writes to it.
            const bool special = why == platform::kNotRegularFile;
            finish(
                ReportMessage(Code::FailedToOpenFile, "Failed to open file " + quoted(fileName) +
                                                          (special ? ": " + why : std::string())));
            return;
        }
        result = ReportCheck(dfu::readWholeFile(file, kHidDfuMaxFirmwareFileBytes, bytes));
        std::fclose(file);
    }
    if (result == 0)
        result = ReportCheck(dfu::checkBytes(bytes));
    const int64_t capacity = int64_t(featureReportLength) - int64_t(kDataHeaderLength);
    if (result == 0 && capacity <= 0)
        result = ReportMessage(Code::InvalidFileFormat, "File format is invalid, no payload found");
    if (result != 0) {
        finish(result);
        return;
    }
    finish(SendImage(bytes, capacity));
}

int32 AsyncWorker::SendImage(const std::vector<uint8_t>& bytes, int64_t capacity) {
    // The image length comes from the checked bytes rather than from the
    // first report, whose data area may be too small to hold it. Each report
    // carries the next capacity bytes of the file; past its end, zeros.
    const int64_t total = int64_t(dfu::le32(bytes.data() + dfu::kImageLengthOffset));
    std::vector<uint8_t> report(std::size_t(featureReportLength), 0);
    uint8_t* const data = report.data() + kDataHeaderLength;
    std::size_t offset = 0;
    auto takePiece = [&]() {
        std::fill(report.begin(), report.end(), uint8_t(0));
        if (offset < bytes.size())
            std::copy_n(bytes.begin() + long(offset),
                        std::min(std::size_t(capacity), bytes.size() - offset), data);
        offset += std::size_t(capacity);
    };

    int64_t remaining = total;
    uint16_t blockNumber = 0;
    imageLength = uint64_t(total);
    // Every data report and the end of the download.
    const int64_t reports = (total + capacity - 1) / capacity + 1;
    startTime = workerNow();
    deadline = startTime + writeBound(reports, featureReportLength);
    takePiece();
    int32 result = WaitForStatus(false);
    if (result == Code::FirmwareCorrupt) {
        result = ClearStatus();
        if (result == 0)
            result = WaitForStatus(false);
    }
    if (result == 0)
        result = DownloadBlock(int32(capacity), report.data(), remaining, blockNumber);
    while (result == 0 && remaining > 0) {
        result = WaitForStatus(false);
        if (result == 0)
            result = CheckDeadline(workerNow());
        if (result != 0)
            break;
        emit progressChanged(progressOf(double(remaining), double(total)));
        takePiece();
        result = DownloadBlock(int32(capacity), report.data(), remaining, blockNumber);
    }
    if (result == 0)
        result = WaitForStatus(false);
    if (result == 0)
        result = CompleteUpgrade(report.data(), blockNumber);
    return result;
}
