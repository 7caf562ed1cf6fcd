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
    if (hid_get_feature_report(deviceHandle, report, sizeof report) == -1)
        return ReportMessage(Code::DriverOperationFailed,
                             "Failed to get feature information (GetStatus)");
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
    if (hid_get_feature_report(deviceHandle, reply.data(), length) == -1)
        return ReportMessage(Code::DriverOperationFailed,
                             "Failed to get feature information (HidReportIdBackup)");
    if (length < kDataHeaderLength)
        return ReportMessage(Code::DriverOperationFailed,
                             "Feature report length is invalid (" + std::to_string(length) + ")");
    dataLength = dfu::le16(reply.data() + kBackupDataLength);
    const std::size_t capacity = length - kDataHeaderLength;
    if (dataLength > capacity)
        return ReportMessage(Code::UnknownError,
                             "Device sent a backup block of " + std::to_string(dataLength) +
                                 " bytes; a report holds at most " + std::to_string(capacity));
    std::memcpy(destination, reply.data() + kDataHeaderLength, dataLength);
    return 0;
}

// --- DFU file ---------------------------------------------------------------

int32 AsyncWorker::CheckFileSuffix(std::FILE* file) {
    const dfu::CheckResult check = dfu::checkFile(file);
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
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto pollDeadline = [&] { return start + std::chrono::milliseconds(pollTimeout); };
    const int passes = sleepFirst ? 1 : 2;
    if (sleepFirst)
        workerSleepUntil(pollDeadline());

    int32 result = Code::Busy;
    uint8 status = 0;
    for (int pass = 1; pass <= passes && result == Code::Busy; ++pass) {
        uint8 state = 0;
        // A failed read is retried at once until the device's poll timeout
        // has passed; GetStatus has reported each failure.
        for (int32 read; (read = GetStatus(status, state)) != 0;) {
            if (read != Code::DriverOperationFailed || sleepFirst || Clock::now() >= pollDeadline())
                return read;
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
        workerSleepUntil(pollDeadline());
        emit setDefaultMessage(Code::Busy);
    }
    return ReportMessage(Code::UpgradeFailed, "Upgrade failed (DFU status code = " +
                                                  std::to_string(unsigned(status)) + ")");
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

    int32 result = CheckFileSuffix(file);
    const int64_t capacity = int64_t(featureReportLength) - int64_t(kDataHeaderLength);
    if (result == 0 && capacity <= 0)
        result = ReportMessage(Code::InvalidFileFormat, "File format is invalid, no payload found");
    if (result != 0) {
        std::fclose(file);
        finish(result);
        return;
    }

    // The image length is read from the file itself rather than from the
    // first report, whose data area may be too small to hold it.
    uint8_t lengthField[dfu::kImageLengthSize] = {};
    std::fseek(file, long(dfu::kImageLengthOffset), SEEK_SET);
    const bool lengthRead =
        std::fread(lengthField, 1, sizeof lengthField, file) == sizeof lengthField;
    std::fseek(file, 0, SEEK_SET);

    std::vector<uint8_t> report(std::size_t(featureReportLength), 0);
    uint8_t* const data = report.data() + kDataHeaderLength;
    auto readPiece = [&]() {
        std::fill(report.begin(), report.end(), uint8_t(0));
        std::fread(data, 1, std::size_t(capacity), file);
        return !std::ferror(file);
    };

    const int64_t total = int64_t(dfu::le32(lengthField));
    int64_t remaining = total;
    uint16_t blockNumber = 0;

    if (!lengthRead || !readPiece()) {
        emit setDefaultMessage(Code::FileReadFailed);
        result = Code::FileReadFailed;
    } else {
        result = WaitForStatus(false);
        if (result == Code::FirmwareCorrupt) {
            result = ClearStatus();
            if (result == 0)
                result = WaitForStatus(false);
        }
        if (result == 0)
            result = DownloadBlock(int32(capacity), report.data(), remaining, blockNumber);
        while (result == 0 && remaining > 0) {
            result = WaitForStatus(false);
            if (result != 0)
                break;
            emit progressChanged(progressOf(double(remaining), double(total)));
            if (!readPiece()) {
                emit setDefaultMessage(Code::FileReadFailed);
                result = Code::FileReadFailed;
                break;
            }
            result = DownloadBlock(int32(capacity), report.data(), remaining, blockNumber);
        }
        if (result == 0)
            result = WaitForStatus(false);
        if (result == 0)
            result = CompleteUpgrade(report.data(), blockNumber);
    }

    std::fclose(file);
    finish(result);
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
