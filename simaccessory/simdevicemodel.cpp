#include "simdevicemodel.h"

#include "simdescriptors.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>

namespace sim {

namespace {

// Report layouts: byte 0 is the report ID, multi-byte fields little-endian.
constexpr uint8_t kStatusId = 2;
constexpr size_t kStatusLength = 7;
constexpr size_t kStatusStatus = 1;
constexpr size_t kStatusPollTimeout = 2; // 24 bits
constexpr size_t kStatusState = 5;
constexpr uint32_t kMaxPollTimeout = 0xFFFFFF;

constexpr uint8_t kCommandId = 3;
constexpr size_t kCommandLength = 2;
constexpr size_t kCommandCode = 1;
constexpr uint8_t kCommandClearStatus = 0x04;
constexpr uint8_t kCommandReset = 0xFF;

constexpr uint8_t kDataId = 1;
constexpr size_t kDownloadRequest = 1;
constexpr uint8_t kDfuDnload = 0x01;
constexpr size_t kDownloadBlockNumber = 2;
constexpr size_t kDownloadDataLength = 4;
constexpr size_t kBackupDataLength = 1;
constexpr size_t kDataHeaderLength = 6;
constexpr uint16_t kOverlongDataLength = 0xFFFF;

uint16_t read16(const uint8_t* at) {
    return uint16_t(at[0] | (at[1] << 8));
}

void write16(uint8_t* at, uint16_t value) {
    at[0] = uint8_t(value & 0xFF);
    at[1] = uint8_t(value >> 8);
}

void write24(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value & 0xFF);
    at[1] = uint8_t((value >> 8) & 0xFF);
    at[2] = uint8_t((value >> 16) & 0xFF);
}

} // namespace

DeviceModel::DeviceModel(AccessoryConfig config)
    : m_config(std::move(config)),
      m_busyMs(m_config.busyMs < 0 ? int(m_config.pollTimeoutMs) : m_config.busyMs),
      m_status(m_config.initialStatus),
      m_state(m_config.startsInError ? kStateDfuError : kStateDfuIdle),
      m_storedImage(m_config.storedImage) {}

std::vector<uint8_t> DeviceModel::reportDescriptor() const {
    if (m_config.descriptorOverride) {
        return *m_config.descriptorOverride;
    }
    return accessoryDescriptor(m_config.usagePage, m_config.usage, m_config.featureReportLength);
}

bool DeviceModel::present() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_unplugged && Clock::now() >= m_absentUntil;
}

uint64_t DeviceModel::generation() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_generation;
}

bool DeviceModel::reachable(uint64_t generation) const {
    return !m_unplugged && generation == m_generation && Clock::now() >= m_absentUntil;
}

void DeviceModel::delay(std::size_t length) const {
    if (m_config.spendTransferTime) {
        m_config.spendTransferTime(length);
    } else if (m_config.reportDelayUs > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(m_config.reportDelayUs));
    }
}

// Counts the report against every armed fault; true when one of them makes it fail.
bool DeviceModel::consumeFaults(Direction direction, uint8_t reportId) {
    bool fail = false;
    if (m_unplugCountdown > 0 && --m_unplugCountdown == 0) {
        m_unplugged = true;
        fail = true;
    }
    for (auto it = m_failFaults.begin(); it != m_failFaults.end();) {
        if (it->direction == direction && it->reportId == reportId && --it->countdown == 0) {
            fail = true;
            it = m_failFaults.erase(it);
        } else {
            ++it;
        }
    }
    return fail || m_unplugged;
}

int DeviceModel::sendFeatureReport(uint64_t generation, const uint8_t* data, size_t length) {
    if (data == nullptr || length == 0) {
        return -1;
    }
    delay(length);
    std::lock_guard<std::mutex> lock(m_mutex);
    Report record{Direction::HostToDevice, data[0], std::vector<uint8_t>(data, data + length),
                  true};
    int result = -1;
    const bool admitted = m_admitted == data[0];
    m_admitted.reset();
    if (reachable(generation) && (admitted || !consumeFaults(Direction::HostToDevice, data[0]))) {
        if (data[0] == kCommandId) {
            result = handleCommand(data, length);
        } else if (data[0] == kDataId) {
            result = handleDownload(data, length);
        }
    }
    record.failed = result < 0;
    this->record(std::move(record));
    return result;
}

bool DeviceModel::admitFeatureReport(uint64_t generation, uint8_t reportId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_admitted.reset();
    const bool taken = reportId == kCommandId || reportId == kDataId;
    if (taken && reachable(generation) && !consumeFaults(Direction::HostToDevice, reportId)) {
        m_admitted = reportId;
        return true;
    }
    record({Direction::HostToDevice, reportId, {reportId}, true});
    return false;
}

int DeviceModel::getFeatureReport(uint64_t generation, uint8_t* data, size_t length) {
    if (data == nullptr || length == 0) {
        return -1;
    }
    delay(length);
    std::lock_guard<std::mutex> lock(m_mutex);
    Report record{Direction::DeviceToHost, data[0], {}, true};
    if (reachable(generation) && !consumeFaults(Direction::DeviceToHost, data[0])) {
        std::vector<uint8_t> reply;
        if (data[0] == kStatusId) {
            reply = statusReply();
        } else if (data[0] == kDataId) {
            reply = backupReply();
        }
        if (!reply.empty()) {
            // A host buffer shorter than the report gets the report's start,
            // as the kernel delivers it.
            size_t count = std::min(reply.size(), length);
            for (auto it = m_shortReplies.begin(); it != m_shortReplies.end(); ++it) {
                if (it->reportId == data[0] && --it->countdown == 0) {
                    count = std::min(count, it->bytes);
                    m_shortReplies.erase(it);
                    break;
                }
            }
            std::memcpy(data, reply.data(), count);
            record.bytes.assign(reply.begin(), reply.begin() + count);
            record.failed = false;
            this->record(std::move(record));
            return int(count);
        }
    }
    this->record(std::move(record));
    return -1;
}

// Unknown commands and malformed reports stall, as the firmware would.
int DeviceModel::handleCommand(const uint8_t* data, size_t length) {
    if (length != kCommandLength) {
        return -1;
    }
    switch (data[kCommandCode]) {
    case kCommandClearStatus:
        // Clearing also abandons a download in progress; the host starts over.
        m_status = kStatusOk;
        m_state = kStateDfuIdle;
        m_busyUntil = Clock::time_point();
        m_download.clear();
        m_expectedBlock = 0;
        return int(length);
    case kCommandReset:
        restart();
        return int(length);
    default:
        return -1;
    }
}

int DeviceModel::handleDownload(const uint8_t* data, size_t length) {
    const size_t capacity = m_config.featureReportLength > kDataHeaderLength
                                ? m_config.featureReportLength - kDataHeaderLength
                                : 0;
    if (length != m_config.featureReportLength || length < kDataHeaderLength ||
        data[kDownloadRequest] != kDfuDnload) {
        return -1;
    }
    const uint16_t block = read16(data + kDownloadBlockNumber);
    const uint16_t count = read16(data + kDownloadDataLength);
    if (count > capacity || Clock::now() < m_busyUntil) {
        return -1; // more than the report carries, or sent while still programming
    }
    if (m_status != kStatusOk) {
        return int(length); // acknowledged but ignored until the status is cleared
    }
    if (count == 0) {
        m_storedImage = std::move(m_download);
        m_download.clear();
        m_expectedBlock = 0;
        m_backupOffset = 0;
        m_state = kStateDfuIdle;
        return int(length);
    }
    if (block != m_expectedBlock) {
        m_status = kStatusErrAddress;
        m_state = kStateDfuError;
        return int(length);
    }
    const uint8_t* payload = data + kDataHeaderLength;
    if (block == 0 && m_config.recordLimit != SIZE_MAX)
        m_receivedImage.clear();
    m_download.insert(m_download.end(), payload, payload + count);
    m_receivedImage.insert(m_receivedImage.end(), payload, payload + count);
    ++m_expectedBlock; // wraps from 65535 to 0 as the host's counter does
    m_state = kStateDfuDnloadIdle;
    m_busyUntil = Clock::now() + std::chrono::milliseconds(m_busyMs);
    m_busyReads = std::max(m_busyReads, m_busyReadsAfterBlock);
    if (m_config.lateFault != LateFault::None &&
        ++m_blocksAccepted == m_config.lateFaultAfterBlocks)
        strikeLateFault();
    return int(length);
}

void DeviceModel::strikeLateFault() {
    switch (m_config.lateFault) {
    case LateFault::None:
        break;
    case LateFault::Unplug:
        m_unplugged = true;
        break;
    case LateFault::WriteError:
        m_writeErrorDue = true;
        m_download.clear();
        m_expectedBlock = 0;
        m_state = kStateDfuIdle;
        m_busyUntil = Clock::time_point();
        break;
    case LateFault::StaysBusy:
        m_busyReads = std::numeric_limits<int>::max();
        break;
    }
}

uint8_t DeviceModel::currentState() const {
    return Clock::now() < m_busyUntil ? kStateDfuDnBusy : m_state;
}

std::vector<uint8_t> DeviceModel::statusReply() {
    std::vector<uint8_t> reply(kStatusLength, 0);
    reply[0] = kStatusId;
    uint8_t status = m_status;
    uint8_t state = currentState();
    if (m_writeErrorDue) {
        m_writeErrorDue = false;
        status = kStatusErrWrite;
        state = kStateDfuError;
    } else if (m_busyReads > 0) {
        --m_busyReads;
        status = kStatusOk;
        state = kStateDfuDnBusy;
    } else if (m_overrideCountdown > 1) {
        --m_overrideCountdown;
    } else {
        status = m_statusOverride.value_or(status);
        state = m_stateOverride.value_or(state);
    }
    reply[kStatusStatus] = status;
    uint32_t pollTimeout = m_config.pollTimeoutMs;
    if (m_announcedPollTimeout && m_announceCountdown > 1)
        --m_announceCountdown;
    else if (m_announcedPollTimeout)
        pollTimeout = *m_announcedPollTimeout;
    write24(&reply[kStatusPollTimeout], std::min(pollTimeout, kMaxPollTimeout));
    reply[kStatusState] = state;
    return reply;
}

std::vector<uint8_t> DeviceModel::backupReply() {
    const size_t reportLength = m_config.featureReportLength;
    const size_t capacity = reportLength > kDataHeaderLength ? reportLength - kDataHeaderLength : 0;
    // Built at full header size and cut to the report length afterwards, so
    // that a report too short for the header stays well-formed as far as it goes.
    std::vector<uint8_t> reply(std::max(reportLength, kDataHeaderLength), 0);
    reply[0] = kDataId;

    BackupFault fault = BackupFault::None;
    if (m_backupFault != BackupFault::None) {
        if (m_backupFaultCountdown > 1) {
            --m_backupFaultCountdown;
        } else {
            fault = m_backupFault;
        }
    }

    const size_t remaining = m_storedImage.size() - m_backupOffset;
    size_t count = fault == BackupFault::ZeroLength ? 0 : std::min(capacity, remaining);
    std::copy_n(m_storedImage.begin() + long(m_backupOffset), count,
                reply.begin() + kDataHeaderLength);
    m_backupOffset += count;
    if (m_backupOffset >= m_storedImage.size()) {
        m_backupOffset = 0; // whole image served: the next read starts over
    }

    uint16_t announced = uint16_t(count);
    if (fault == BackupFault::OverlongLength) {
        announced = kOverlongDataLength;
    } else if (fault == BackupFault::BeyondImage) {
        announced = uint16_t(capacity);
    }
    write16(&reply[kBackupDataLength], announced);
    reply.resize(reportLength);
    return reply;
}

void DeviceModel::restart() {
    ++m_generation;
    ++m_resetCount;
    m_absentUntil = Clock::now() + std::chrono::milliseconds(m_config.reenumerateMs);
    m_status = kStatusOk;
    m_state = kStateDfuIdle;
    m_busyUntil = Clock::time_point();
    m_download.clear();
    m_expectedBlock = 0;
    m_backupOffset = 0;
}

void DeviceModel::failReport(Direction direction, uint8_t reportId, int nth) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failFaults.push_back({direction, reportId, std::max(nth, 1)});
}

void DeviceModel::unplugAtReport(int nth) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unplugCountdown = std::max(nth, 1);
}

void DeviceModel::answerBusy(int reads) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyReads = std::max(reads, 0);
}

void DeviceModel::answerBusyAfterEachBlock(int reads) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyReadsAfterBlock = std::max(reads, 0);
}

void DeviceModel::overrideStatus(std::optional<uint8_t> status, std::optional<uint8_t> state,
                                 int fromReply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statusOverride = status;
    m_stateOverride = state;
    m_overrideCountdown = std::max(fromReply, 1);
}

void DeviceModel::announcePollTimeout(uint32_t ms, int fromReply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_announcedPollTimeout = ms;
    m_announceCountdown = std::max(fromReply, 1);
}

void DeviceModel::shortenReply(uint8_t reportId, std::size_t bytes, int nth) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shortReplies.push_back({reportId, std::max(nth, 1), bytes});
}

void DeviceModel::clearStatusOverride() {
    overrideStatus(std::nullopt, std::nullopt);
}

void DeviceModel::setBackupFault(BackupFault fault, int fromReply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_backupFault = fault;
    m_backupFaultCountdown = std::max(fromReply, 1);
}

void DeviceModel::record(Report report) {
    m_records.push_back(std::move(report));
    while (m_records.size() > m_config.recordLimit)
        m_records.pop_front();
}

std::vector<Report> DeviceModel::records() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_records.begin(), m_records.end()};
}

void DeviceModel::clearRecords() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.clear();
    m_receivedImage.clear();
}

std::vector<uint8_t> DeviceModel::receivedImage() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_receivedImage;
}

std::vector<uint8_t> DeviceModel::storedImage() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_storedImage;
}

int DeviceModel::resetCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_resetCount;
}

} // namespace sim
