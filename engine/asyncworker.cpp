#include "asyncworker.h"

#include "chiddfuerrorstate.h"
#include "dfufile.h"
#include "hidreports.h"
#include "workersleep.h"

#include <QDebug>
#include <QThread>

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace hidreport;
using Code = CHidDfuErrorState::Code;

namespace {

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

constexpr uint32_t kMaxPollTimeoutMs = 60000;

// An accessory of this kind holds a few MiB at most. The whole file is kept in
// memory for the write, so that what is sent is exactly what was checked,
// whatever happens to the file meanwhile.
constexpr uint64_t kMaxFirmwareFileBytes = 16u << 20;

// The whole write may take ten times what the device's own pace (the poll
// timeout of its first status, once per report) adds up to, and at least a
// minute: a device that keeps asking for long waits must not hold the worker,
// and the window, for hours.
constexpr int64_t kDeadlineFactor = 10;
constexpr std::chrono::milliseconds kShortestDeadline{60000};

std::string bytesShort(std::size_t got, std::size_t wanted, const char* what) {
    return "Device sent " + std::to_string(got) + " of " + std::to_string(wanted) + " " + what;
}

bool isReadyState(uint8 state) {
    return state == kStateAppIdle || state == kStateDfuIdle || state == kStateDfuDnloadIdle;
}

uint8 progressOf(double remaining, double total) {
    return uint8(100.0 - (remaining / total) * 100.0);
}

} // namespace

AsyncWorker::AsyncWorker(hid_device* handle, std::string name, int32 reportLength)
    : QObject(nullptr), deviceHandle(handle), fileName(std::move(name)),
      featureReportLength(reportLength) {}

AsyncWorker::~AsyncWorker() = default;

int32 AsyncWorker::ReportMessage(int32 code, const std::string& text) {
    emit setMessage(code, text);
    return code;
}

void AsyncWorker::finish(int32 result) {
    emit exitCode(result);
    QThread::currentThread()->exit(0);
}

// --- Report transport -------------------------------------------------------

int32 AsyncWorker::GetStatus(uint8& status, uint8& state) {
    uint8_t report[kStatusLength] = {};
    report[0] = kStatusId;
    const int got = hid_get_feature_report(deviceHandle, report, sizeof report);
    if (got == -1)
        return ReportMessage(Code::DriverOperationFailed,
                             "Failed to get feature information (GetStatus)");
    // The rest of the buffer still holds zeros, which would read as "ready".
    if (got < int(kStatusLength))
        return ReportMessage(Code::DriverOperationFailed,
                             bytesShort(std::size_t(got), kStatusLength, "status bytes"));
    status = report[kStatusStatus];
    state = report[kStatusState];
    const uint32_t asked = uint32_t(report[kStatusPollTimeout]) |
                           (uint32_t(report[kStatusPollTimeout + 1]) << 8) |
                           (uint32_t(report[kStatusPollTimeout + 2]) << 16);
    // No accessory of this kind needs more than seconds; a longer wait would
    // hold the worker, and the program's exit, for up to 4.66 hours.
    if (asked > kMaxPollTimeoutMs)
        return ReportMessage(Code::UpgradeFailed,
                             "Device asked to wait " + std::to_string(asked) + " ms; at most " +
                                 std::to_string(kMaxPollTimeoutMs) + " ms is accepted");
    pollTimeout = asked;
    return 0;
}

int32 AsyncWorker::ClearStatus() {
    const uint8_t report[kCommandLength] = {kCommandId, kCommandClearStatus};
    if (hid_send_feature_report(deviceHandle, report, sizeof report) == -1) {
        emit setDefaultMessage(Code::FailedToClearStatus);
        return Code::FailedToClearStatus;
    }
    return 0;
}

int32 AsyncWorker::DownloadBlock(int32 capacity, uint8_t* report, int64_t& remaining,
                                 uint16_t& blockNumber) {
    const uint16_t n = uint16_t(std::min<int64_t>(remaining, capacity));
    report[0] = kDataId;
    report[kDownloadRequest] = kDfuDnload;
    dfu::putLe16(report + kDownloadBlockNumber, blockNumber);
    dfu::putLe16(report + kDownloadDataLength, n);
    if (hid_send_feature_report(deviceHandle, report, size_t(featureReportLength)) == -1)
        return ReportMessage(Code::DriverOperationFailed, "Failed to write to device");
    remaining -= n;
    ++blockNumber;
    return 0;
}

int32 AsyncWorker::ReadBackupBlock(uint8_t* destination, uint16_t length, uint16_t& dataLength) {
    if (length == 0)
        return 0;
    std::vector<uint8_t> reply(length, 0);
    reply[0] = kDataId;
    const int got = hid_get_feature_report(deviceHandle, reply.data(), length);
    if (got == -1)
        return ReportMessage(Code::DriverOperationFailed,
                             "Failed to get feature information (HidReportIdBackup)");
    if (length < kDataHeaderLength)
        return ReportMessage(Code::DriverOperationFailed,
                             "Feature report length is invalid (" + std::to_string(length) + ")");
    if (std::size_t(got) < kDataHeaderLength)
        return ReportMessage(
            Code::DriverOperationFailed,
            bytesShort(std::size_t(got), kDataHeaderLength, "backup header bytes"));
    dataLength = dfu::le16(reply.data() + kBackupDataLength);
    const std::size_t capacity = length - kDataHeaderLength;
    if (dataLength > capacity)
        return ReportMessage(Code::UnknownError,
                             "Device sent a backup block of " + std::to_string(dataLength) +
                                 " bytes; a report holds at most " + std::to_string(capacity));
    // Bytes the reply did not carry would be stored as zeros in a backup whose
    // CRC, computed over them, would pass.
    if (std::size_t(got) < kDataHeaderLength + dataLength)
        return ReportMessage(Code::DriverOperationFailed,
                             bytesShort(std::size_t(got), kDataHeaderLength + dataLength,
                                        "bytes of a backup block"));
    std::memcpy(destination, reply.data() + kDataHeaderLength, dataLength);
    return 0;
}

// --- DFU file ---------------------------------------------------------------

int32 AsyncWorker::ReportCheck(const dfu::CheckResult& check) {
    if (check.code == 0)
        return 0;
    if (check.message.empty()) {
        emit setDefaultMessage(check.code);
        return check.code;
    }
    return ReportMessage(check.code, check.message);
}

// --- Upgrade ----------------------------------------------------------------

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
        // A failed read is retried at once until the device's poll timeout
        // has passed; GetStatus has reported each failure.
        for (int32 read; (read = GetStatus(status, state)) != 0;) {
            if (read != Code::DriverOperationFailed || sleepFirst || workerNow() >= pollDeadline())
                return read;
        }
        if (!deadlineSet) {
            deadlineSet = true;
            deadline =
                startTime + std::max<std::chrono::milliseconds>(
                                kShortestDeadline,
                                std::chrono::milliseconds(kDeadlineFactor * int64_t(pollTimeout) *
                                                          int64_t(reportsToSend)));
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
    if (!deadlineSet || until <= deadline)
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

    std::string why;
    std::FILE* file = dfu::openRegularFile(fileName.c_str(), why);
    if (!file) {
        // A FIFO or device node would block the worker, and with it the
        // program's exit, until something writes to it.
        const bool special = why == dfu::kNotRegularFile;
        finish(ReportMessage(Code::FailedToOpenFile, "Failed to open file " + quoted(fileName) +
                                                         (special ? ": " + why : std::string())));
        return;
    }

    std::vector<uint8_t> bytes;
    int32 result = ReportCheck(dfu::readWholeFile(file, kMaxFirmwareFileBytes, bytes));
    std::fclose(file);
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
        const std::size_t n =
            std::min(std::size_t(capacity), bytes.size() - std::min(offset, bytes.size()));
        std::copy_n(bytes.begin() + long(offset), n, data);
        offset += std::size_t(capacity);
    };

    int64_t remaining = total;
    uint16_t blockNumber = 0;
    imageLength = uint64_t(total);
    reportsToSend = (total + capacity - 1) / capacity + 1;
    startTime = workerNow();
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

// --- Backup -----------------------------------------------------------------

void AsyncWorker::DoBackup() {
    emit progressChanged(0);

    // A read-back (no file name) is kept in memory: a comparison after a good
    // write must not fail for want of room in a temporary folder.
    if (fileName.empty()) {
        const int descriptor = ::memfd_create("read-back", MFD_CLOEXEC);
        std::FILE* memory = descriptor < 0 ? nullptr : ::fdopen(descriptor, "w+b");
        if (!memory) {
            const std::string why = std::strerror(errno);
            if (descriptor >= 0)
                ::close(descriptor);
            emit readBack({});
            finish(
                ReportMessage(Code::OutOfMemory, "Out of memory for the read-back (" + why + ")"));
            return;
        }
        int32 result = runBackup(memory);
        std::vector<uint8_t> bytes(result == 0 ? std::size_t(std::ftell(memory)) : 0);
        std::rewind(memory);
        if (std::fread(bytes.data(), 1, bytes.size(), memory) != bytes.size()) {
            emit setDefaultMessage(Code::FileReadFailed);
            result = Code::FileReadFailed;
            bytes.clear();
        }
        std::fclose(memory);
        emit readBack(std::move(bytes));
        finish(result);
        return;
    }

    // Through a link the backup replaces the file the link leads to: renamed
    // over the link itself it would replace the link. A device node, FIFO or
    // folder is never replaced by a file.
    std::string why;
    const std::string target = dfu::resolveWriteTarget(fileName, why);
    if (target.empty()) {
        finish(ReportMessage(Code::FailedToOpenFile,
                             "Failed to open file " + quoted(fileName) + ": " + why));
        return;
    }
    fileName = target;

    // The backup goes to a file beside the target and replaces it only once
    // complete, so that a failed backup never destroys the previous good one.
    const std::string partialName = fileName + ".partial";
    std::FILE* file = std::fopen(partialName.c_str(), "wb");
    const int openError = errno;
    qWarning() << "File to write to: " << fileName.c_str();
    if (!file) {
        // The file opened is a new one in the target's folder: when that
        // folder is what refuses, say so rather than blame the file.
        const std::size_t slash = fileName.find_last_of('/');
        const std::string folder = slash == std::string::npos ? std::string(".")
                                   : slash == 0               ? std::string("/")
                                                              : fileName.substr(0, slash);
        std::string text = "Failed to open file " + quoted(fileName) + ". File must be writable.";
        if (::access(folder.c_str(), W_OK | X_OK) != 0)
            text = "Failed to open file " + quoted(fileName) + ": cannot create a file in folder " +
                   quoted(folder) + " (" + std::strerror(openError) + ")";
        finish(ReportMessage(Code::FailedToOpenFile, text));
        return;
    }

    int32 result = runBackup(file);
    if (std::fclose(file) != 0 && result == 0) {
        emit setDefaultMessage(Code::FailedToWriteFile);
        result = Code::FailedToWriteFile;
    }
    if (result == 0 && std::rename(partialName.c_str(), fileName.c_str()) != 0)
        result =
            ReportMessage(Code::FailedToWriteFile, "Failed to write to file " + quoted(fileName) +
                                                       ": " + std::strerror(errno));
    if (result != 0)
        std::remove(partialName.c_str());
    finish(result);
}

int32 AsyncWorker::runBackup(std::FILE* file) {
    const std::size_t length = std::size_t(featureReportLength);
    if (length <= kDataHeaderLength)
        return ReportMessage(Code::DriverOperationFailed,
                             "Feature report length is invalid (" + std::to_string(length) + ")");

    std::vector<uint8_t> buffer(length, 0);
    dfu::Crc32 crc;
    crc.set(0xFFFFFFFFu);

    // The image's first bytes, up to its length field. A report large enough
    // delivers them in the first reply; a smaller one over several.
    constexpr std::size_t kHeaderLength = dfu::kImageLengthOffset + dfu::kImageLengthSize;
    uint8_t header[kHeaderLength] = {};
    uint32_t received = 0;
    uint32_t total = 0;
    bool totalKnown = false;

    while (!totalKnown || received < total) {
        if (totalKnown)
            emit progressChanged(progressOf(double(total - received), double(total)));
        std::fill(buffer.begin(), buffer.end(), uint8_t(0));
        uint16_t dataLength = 0;
        int32 result = ReadBackupBlock(buffer.data(), uint16_t(length), dataLength);
        if (result != 0)
            return result;

        if (!totalKnown) {
            const std::size_t take = std::min<std::size_t>(dataLength, kHeaderLength - received);
            std::copy_n(buffer.begin(), take, header + received);
            if (dataLength == 0 || received + dataLength >= kHeaderLength) {
                total = dfu::le32(header + dfu::kImageLengthOffset);
                totalKnown = true;
                if (total == 0)
                    return ReportMessage(Code::UnknownError, "Device reports DFU length of zero");
                // The field lies inside the image: a smaller length contradicts
                // the bytes that carry it, and the count still due would wrap.
                if (total < kHeaderLength)
                    return ReportMessage(Code::UnknownError, "Device reports DFU length of " +
                                                                 std::to_string(total) +
                                                                 " bytes, shorter than the " +
                                                                 std::to_string(kHeaderLength) +
                                                                 " bytes that carry it");
            }
        }
        // A device that stops delivering, or delivers more than the image
        // holds, would otherwise keep this loop going or corrupt the file.
        if (totalKnown && dataLength == 0)
            return ReportMessage(Code::UnknownError, "Device sent an empty backup block with " +
                                                         std::to_string(total - received) +
                                                         " bytes of the image still due");
        if (totalKnown && dataLength > total - received)
            return ReportMessage(Code::UnknownError, "Device sent " + std::to_string(dataLength) +
                                                         " bytes with only " +
                                                         std::to_string(total - received) +
                                                         " bytes of the image still due");

        crc.update(buffer.data(), dataLength);
        if (std::fwrite(buffer.data(), 1, dataLength, file) < dataLength) {
            emit setDefaultMessage(Code::FailedToWriteFile);
            return Code::FailedToWriteFile;
        }
        received += dataLength;
    }

    uint8_t suffix[dfu::kSuffixLength];
    dfu::buildBackupSuffix(suffix, crc);
    if (std::fwrite(suffix, 1, sizeof suffix, file) < sizeof suffix) {
        emit setDefaultMessage(Code::FailedToWriteFile);
        return Code::FailedToWriteFile;
    }
    // Flushed and synced before it may replace the previous backup.
    if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) {
        emit setDefaultMessage(Code::FailedToWriteFile);
        return Code::FailedToWriteFile;
    }
    return 0;
}
