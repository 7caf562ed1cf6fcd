#pragma once
// Helpers for tests that drive the process's one engine against the
// simulated accessory.

#include "dfufile.h"
#include "hiddfu.h"
#include "simbus.h"

#include <QByteArray>
#include <QString>
#include <QtTest>

#include <cstdint>
#include <vector>

namespace enginesupport {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kVendorId = 0x0A12;
constexpr uint16_t kProductId = 0xFFFE;
// What the engine's progress query answers when no operation runs.
constexpr uint8 kNothingRunning = 100;

// Report layout, as the accessory receives it.
constexpr uint8_t kDataReportId = 1;
constexpr uint8_t kCommandReportId = 3;
constexpr uint8_t kDownloadRequest = 0x01;
constexpr uint8_t kResetCommand = 0xFF;
constexpr std::size_t kBlockNumberOffset = 2;
constexpr std::size_t kDataLengthOffset = 4;
constexpr std::size_t kDataOffset = 6;

// An accessory slow enough that an upgrade of kSlowImageLength bytes runs
// for seconds: long enough to act while it runs, whatever the machine.
constexpr uint32_t kSlowPollTimeoutMs = 20;
constexpr int kSlowReportDelayUs = 2000;
constexpr uint32_t kSlowImageLength = 6 * 1024;

inline sim::AccessoryConfig slowAccessory() {
    sim::AccessoryConfig config;
    config.pollTimeoutMs = kSlowPollTimeoutMs;
    config.reportDelayUs = kSlowReportDelayUs;
    return config;
}

inline Bytes firmwareFile(uint32_t imageLength, uint32_t seed = 1) {
    return dfu::makeDfuFile(dfu::makeImage(imageLength, seed));
}

inline QByteArray toQByteArray(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

// The reports the host sends for a successful upgrade of file to an
// accessory with feature report length L, followed by the restart request:
// every data report carries a full data area of file bytes (zeros past the
// file's end) and its counted length; then the end-of-download report.
inline std::vector<Bytes> upgradeAndResetReports(const Bytes& file, std::size_t L,
                                                 uint32_t imageLength) {
    const std::size_t capacity = L - kDataOffset;
    std::vector<Bytes> reports;
    uint16_t block = 0;
    std::size_t remaining = imageLength;
    do {
        Bytes report(L, 0);
        report[0] = kDataReportId;
        report[1] = kDownloadRequest;
        dfu::putLe16(report.data() + kBlockNumberOffset, block);
        const std::size_t counted = remaining < capacity ? remaining : capacity;
        dfu::putLe16(report.data() + kDataLengthOffset, uint16_t(counted));
        const std::size_t offset = std::size_t(block) * capacity;
        for (std::size_t i = 0; i < capacity && offset + i < file.size(); ++i)
            report[kDataOffset + i] = file[offset + i];
        reports.push_back(report);
        remaining -= counted;
        ++block;
    } while (remaining > 0);
    Bytes end(L, 0);
    end[0] = kDataReportId;
    end[1] = kDownloadRequest;
    dfu::putLe16(end.data() + kBlockNumberOffset, block);
    reports.push_back(end);
    reports.push_back({kCommandReportId, kResetCommand});
    return reports;
}

// The whole buffers the host sent, in order.
inline std::vector<Bytes> sentReports(const sim::DeviceModel& device) {
    std::vector<Bytes> sent;
    for (const sim::Report& report : device.records()) {
        if (report.direction == sim::Direction::HostToDevice)
            sent.push_back(report.bytes);
    }
    return sent;
}

// Leaves the engine idle and disconnected and the bus empty, as the next
// test function expects to find them.
inline void settle() {
    QTRY_COMPARE_WITH_TIMEOUT(int(hidDfuGetProgress()), int(kNothingRunning), 60000);
    // Lets queued relay results of the ended operation arrive now.
    QTest::qWait(150);
    QCOMPARE(hidDfuDisconnect(), 0);
    sim::Bus::reset();
}

} // namespace enginesupport
