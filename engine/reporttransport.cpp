// The worker's report transport: each call sends one report or reads one
// reply, checks what came back and reports a failure before returning it.
#include "asyncworker.h"

#include "chiddfuerrorstate.h"
#include "dfufile.h"
#include "hidreports.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace hidreport;
using Code = CHidDfuErrorState::Code;

namespace {

constexpr uint32_t kMaxPollTimeoutMs = 60000;

static_assert(kStateDfuDnBusy == kHidDfuStateDnBusy, "the contract names the state it reports");

std::string bytesShort(std::size_t got, std::size_t wanted, const char* what) {
    return "Device sent " + std::to_string(got) + " of " + std::to_string(wanted) + " " + what;
}

} // namespace

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
    emit statusRead(status, state);
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
    emit bytesWritten(imageLength - uint64_t(remaining), imageLength);
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
