#pragma once
// Helpers for tests that drive the process's one engine against the
// simulated accessory, on top of the engine calls every device test makes.

#include "devicetraffic.h"
#include "dfufile.h"
#include "enginecalls.h"
#include "hiddfu.h"
#include "simbus.h"

#include <QByteArray>
#include <QString>
#include <QtTest>

#include <cstdint>
#include <vector>

namespace enginesupport {

using traffic::Bytes;
using traffic::toQByteArray;

// Report layout, as the accessory receives it.
constexpr uint8_t kCommandReportId = 3;
constexpr uint8_t kResetCommand = 0xFF;

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

// The reports the host sends for a successful upgrade of file to an
// accessory with feature report length L, followed by the restart request.
inline std::vector<Bytes> upgradeAndResetReports(const Bytes& file, std::size_t L,
                                                 uint32_t imageLength) {
    Q_ASSERT(dfu::le32(file.data() + dfu::kImageLengthOffset) == imageLength);
    Q_UNUSED(imageLength);
    std::vector<Bytes> reports = traffic::upgradeReports(L, file);
    reports.push_back({kCommandReportId, kResetCommand});
    return reports;
}

using traffic::sentReports;

// Leaves the engine idle and disconnected and the bus empty, as the next
// test function expects to find them.
inline void settle() {
    QTRY_COMPARE_WITH_TIMEOUT(int(hidDfuGetProgress()), int(kHidDfuNothingRunning), 60000);
    // Lets queued relay results of the ended operation arrive now.
    QTest::qWait(150);
    QCOMPARE(hidDfuDisconnect(), 0);
    sim::Bus::reset();
}

} // namespace enginesupport
