// The simulated accessory's device model through the hidapi calls the engine
// makes: its DFU state machine, reset and re-enumeration, backup chunking,
// each fault, and the bounded record.

#include "simaccessorytest.h"

#include <hidapi/hidapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace simtest;

TEST_F(SimAccessory, DownloadsBlocksAndStoresTheImageAtTheEnd) {
    constexpr size_t L = 16; // 10 data bytes per report
    sim::AccessoryConfig c = config(L);
    c.pollTimeoutMs = 10000;
    c.busyMs = 0;
    sim::DeviceModel& device = sim::Bus::addAccessory(c);
    const Handle dev = open(device);
    ASSERT_TRUE(dev);

    const Bytes image = pattern(13, 0x40);
    const Bytes block0 = downloadReport(L, 0, Bytes(image.begin(), image.begin() + 10));
    const Bytes block1 = downloadReport(L, 1, Bytes(image.begin() + 10, image.end()), 0xEE);
    const Bytes end = downloadReport(L, 2, {});

    EXPECT_EQ(status(dev.get()), statusReply(0, 10000, 2));
    EXPECT_EQ(send(dev.get(), block0), int(L));
    EXPECT_EQ(send(dev.get(), block1), int(L));
    EXPECT_EQ(status(dev.get()), statusReply(0, 10000, 5));
    EXPECT_EQ(device.storedImage(), Bytes()); // not before the end of the download
    EXPECT_EQ(send(dev.get(), end), int(L));
    EXPECT_EQ(status(dev.get()), statusReply(0, 10000, 2));

    EXPECT_EQ(device.storedImage(), image);
    EXPECT_EQ(device.receivedImage(), image);
    const std::vector<sim::Report> expected = {
        toHost(statusReply(0, 10000, 2)), toDevice(block0), toDevice(block1),
        toHost(statusReply(0, 10000, 5)), toDevice(end),    toHost(statusReply(0, 10000, 2)),
    };
    EXPECT_EQ(device.records(), expected);

    device.clearRecords();
    EXPECT_TRUE(device.records().empty());
    EXPECT_TRUE(device.receivedImage().empty());
}

// The USB attachment asks at a control write's setup stage: a report
// refused there is recorded with its ID alone, one admitted is counted once.
TEST(DeviceModelAdmission, RefusesAtTheSetupStageAndCountsEachReportOnce) {
    constexpr size_t L = 16;
    sim::AccessoryConfig c;
    c.featureReportLength = L;
    c.busyMs = 0;
    sim::DeviceModel device(c);
    const uint64_t generation = device.generation();
    const Bytes block0 = downloadReport(L, 0, Bytes(10, 0x40));
    device.failReport(Direction::HostToDevice, 1, 2);

    EXPECT_TRUE(device.admitFeatureReport(generation, 1));
    EXPECT_EQ(device.sendFeatureReport(generation, block0.data(), block0.size()), int(L));
    EXPECT_FALSE(device.admitFeatureReport(generation, 1)); // the second ID 1 report
    EXPECT_FALSE(device.admitFeatureReport(generation, 2)); // the status is never written
    EXPECT_FALSE(device.admitFeatureReport(generation + 1, 3));
    // Each refusal recorded as the ID byte alone, built in place (GCC 14's
    // bounds check misreads a one-byte vector copied through toDevice).
    const auto refused = [](uint8_t id) {
        return sim::Report{Direction::HostToDevice, id, Bytes(1, id), true};
    };
    const std::vector<sim::Report> expected = {toDevice(block0), refused(1), refused(2),
                                               refused(3)};
    EXPECT_EQ(device.records(), expected);
}

TEST_F(SimAccessory, IsBusyAfterEachBlockAndRefusesBlocksMeanwhile) {
    sim::AccessoryConfig c = config();
    c.pollTimeoutMs = 20;
    c.busyMs = 60000;
    sim::DeviceModel& slow = sim::Bus::addAccessory(c);
    c.busyMs = -1; // busy as long as the poll timeout it announces
    sim::DeviceModel& quick = sim::Bus::addAccessory(c);

    const Handle slowDev = open(slow);
    const Bytes block0 = downloadReport(64, 0, pattern(58));
    const Bytes block1 = downloadReport(64, 1, pattern(5));
    EXPECT_EQ(send(slowDev.get(), block0), 64);
    EXPECT_EQ(status(slowDev.get()), statusReply(0, 20, 4));
    EXPECT_EQ(send(slowDev.get(), block1), -1);
    EXPECT_EQ(slow.receivedImage(), pattern(58));
    EXPECT_EQ(slow.records().back(), toDevice(block1, true));

    const Handle quickDev = open(quick);
    EXPECT_EQ(send(quickDev.get(), block0), 64);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(status(quickDev.get()), statusReply(0, 20, 5));
    EXPECT_EQ(send(quickDev.get(), block1), 64);
}

TEST_F(SimAccessory, WrongBlockNumberIsErrAddressUntilCleared) {
    sim::DeviceModel& device = sim::Bus::addAccessory(config());
    const Handle dev = open(device);
    EXPECT_EQ(send(dev.get(), downloadReport(64, 1, pattern(4))), 64);
    EXPECT_EQ(status(dev.get()), statusReply(8, 0, 10));
    EXPECT_EQ(send(dev.get(), downloadReport(64, 0, pattern(4))), 64); // ignored meanwhile
    EXPECT_EQ(status(dev.get()), statusReply(8, 0, 10));
    EXPECT_EQ(send(dev.get(), kClearStatus), 2);
    EXPECT_EQ(status(dev.get()), statusReply(0, 0, 2));
    EXPECT_EQ(send(dev.get(), downloadReport(64, 0, pattern(4))), 64);
    EXPECT_EQ(device.receivedImage(), pattern(4));
}

TEST_F(SimAccessory, ErrFirmwareStaysUntilCleared) {
    sim::AccessoryConfig c = config();
    c.initialStatus = 10;
    sim::DeviceModel& device = sim::Bus::addAccessory(c);
    const Handle dev = open(device);
    EXPECT_EQ(status(dev.get()), statusReply(10, 0, 2));
    const Bytes block0 = downloadReport(64, 0, pattern(4));
    EXPECT_EQ(send(dev.get(), block0), 64);
    EXPECT_EQ(status(dev.get()), statusReply(10, 0, 2));
    EXPECT_TRUE(device.receivedImage().empty());
    EXPECT_EQ(send(dev.get(), kClearStatus), 2);
    EXPECT_EQ(status(dev.get()), statusReply(0, 0, 2));
    // Reports while the status was non-zero are recorded all the same.
    EXPECT_EQ(device.records().at(1), toDevice(block0));
}

TEST_F(SimAccessory, ResetLeavesTheBusAndReturnsFresh) {
    sim::AccessoryConfig c = config();
    c.initialStatus = 10;
    c.storedImage = pattern(100);
    sim::DeviceModel& device = sim::Bus::addAccessory(c);
    c.reenumerateMs = 60000;
    sim::DeviceModel& slow = sim::Bus::addAccessory(c);
    const std::string path = sim::Bus::pathOf(device);

    Handle dev = open(path);
    EXPECT_EQ(get(dev.get(), kDataId, 64).size(), 64u); // backup half-way through
    EXPECT_EQ(send(dev.get(), kReset), 2);
    EXPECT_EQ(device.resetCount(), 1);
    EXPECT_TRUE(status(dev.get()).empty());
    EXPECT_EQ(send(dev.get(), kClearStatus), -1);
    EXPECT_EQ(device.records().back(), toDevice(kClearStatus, true));
    dev.reset();
    EXPECT_EQ(sim::Bus::openConnections(), 0);

    dev = open(path);
    ASSERT_TRUE(dev);
    EXPECT_EQ(status(dev.get()), statusReply(0, 0, 2));
    EXPECT_EQ(get(dev.get(), kDataId, 64), backupReply(64, 58, pattern(58)));

    const std::string slowPath = sim::Bus::pathOf(slow);
    Handle slowDev = open(slowPath);
    EXPECT_EQ(send(slowDev.get(), kReset), 2);
    EXPECT_EQ(enumeratedPaths(), std::vector<std::string>{path});
    EXPECT_FALSE(open(slowPath));
}

TEST_F(SimAccessory, BackupServesTheImageInChunksAndStartsOver) {
    sim::AccessoryConfig c = config(64);
    c.storedImage = pattern(100);
    sim::DeviceModel& device = sim::Bus::addAccessory(c);
    const Handle dev = open(device);

    const Bytes first = backupReply(64, 58, pattern(58));
    const Bytes last = backupReply(64, 42, pattern(42, 58));
    EXPECT_EQ(get(dev.get(), kDataId, 64), first);
    EXPECT_EQ(get(dev.get(), kDataId, 64), last);
    EXPECT_EQ(get(dev.get(), kDataId, 64), first);
    EXPECT_EQ(device.records(),
              (std::vector<sim::Report>{toHost(first), toHost(last), toHost(first)}));

    // A shorter host buffer gets the report's start and nothing beyond it.
    Bytes buffer(64, 0xAA);
    buffer[0] = kDataId;
    EXPECT_EQ(hid_get_feature_report(dev.get(), buffer.data(), 10), 10);
    EXPECT_EQ(buffer, concat(Bytes(last.begin(), last.begin() + 10), Bytes(54, 0xAA)));
}

TEST_F(SimAccessory, FailsTheNthReportOfAKindWithoutChangingState) {
    sim::DeviceModel& device = sim::Bus::addAccessory(config());
    const Handle dev = open(device);
    device.failReport(Direction::HostToDevice, kDataId, 2);

    const Bytes block1 = downloadReport(64, 1, pattern(3, 58));
    EXPECT_EQ(send(dev.get(), downloadReport(64, 0, pattern(58))), 64);
    EXPECT_EQ(status(dev.get()), statusReply(0, 0, 5)); // another kind: not counted
    EXPECT_EQ(send(dev.get(), block1), -1);
    EXPECT_EQ(device.records().back(), toDevice(block1, true));
    EXPECT_EQ(send(dev.get(), block1), 64); // block 1 was still expected
    EXPECT_EQ(device.receivedImage(), pattern(61));

    device.failReport(Direction::DeviceToHost, kStatusId);
    EXPECT_TRUE(status(dev.get()).empty());
    EXPECT_EQ(device.records().back(), (sim::Report{Direction::DeviceToHost, kStatusId, {}, true}));
    EXPECT_EQ(status(dev.get()), statusReply(0, 0, 5));
}

TEST_F(SimAccessory, UnplugsAtReportNAndLeavesTheBus) {
    sim::DeviceModel& device = sim::Bus::addAccessory(config());
    const std::string path = sim::Bus::pathOf(device);
    const Handle dev = open(path);
    device.unplugAtReport(2);
    EXPECT_EQ(status(dev.get()), statusReply(0, 0, 2));
    EXPECT_TRUE(status(dev.get()).empty());
    EXPECT_EQ(send(dev.get(), kClearStatus), -1);
    EXPECT_TRUE(enumeratedPaths().empty());
    EXPECT_FALSE(open(path));
}

TEST_F(SimAccessory, StatusFaultsShapeTheReplies) {
    sim::AccessoryConfig c = config();
    c.pollTimeoutMs = 5;
    c.busyMs = 0;
    sim::DeviceModel& device = sim::Bus::addAccessory(c);
    const Handle dev = open(device);

    device.answerBusy(2);
    EXPECT_EQ(status(dev.get()), statusReply(0, 5, 4));
    EXPECT_EQ(status(dev.get()), statusReply(0, 5, 4));
    EXPECT_EQ(status(dev.get()), statusReply(0, 5, 2));

    device.overrideStatus(3, std::nullopt);
    EXPECT_EQ(status(dev.get()), statusReply(3, 5, 2));
    EXPECT_EQ(status(dev.get()), statusReply(3, 5, 2));
    device.overrideStatus(std::nullopt, 7);
    EXPECT_EQ(status(dev.get()), statusReply(0, 5, 7));
    device.clearStatusOverride();
    EXPECT_EQ(status(dev.get()), statusReply(0, 5, 2));

    device.overrideStatus(std::nullopt, 4, 2);
    EXPECT_EQ(status(dev.get()), statusReply(0, 5, 2));
    EXPECT_EQ(status(dev.get()), statusReply(0, 5, 4));
    device.announcePollTimeout(0xFFFFFF);
    EXPECT_EQ(status(dev.get()), statusReply(0, 0xFFFFFF, 4));
}

TEST_F(SimAccessory, RecordLimitKeepsTheLatestReportsAndTheLastDownload) {
    sim::AccessoryConfig c = config(8);
    c.busyMs = 0;
    c.recordLimit = 3;
    sim::DeviceModel& device = sim::Bus::addAccessory(c);
    const Handle dev = open(device);
    for (uint16_t download = 0; download < 2; ++download) {
        for (uint16_t block = 0; block < 3; ++block)
            ASSERT_EQ(send(dev.get(), downloadReport(8, block, pattern(2, uint8_t(block)))), 8);
        ASSERT_EQ(send(dev.get(), downloadReport(8, 3, {})), 8);
    }
    EXPECT_EQ(device.records(), (std::vector<sim::Report>{
                                    toDevice(downloadReport(8, 1, pattern(2, 1))),
                                    toDevice(downloadReport(8, 2, pattern(2, 2))),
                                    toDevice(downloadReport(8, 3, {})),
                                }));
    EXPECT_EQ(device.receivedImage(), concat(concat(pattern(2, 0), pattern(2, 1)), pattern(2, 2)));
}

// The scripted late faults strike right after the nth accepted block.
TEST_F(SimAccessory, LateFaultsStrikeAfterTheConfiguredBlock) {
    sim::AccessoryConfig c = config();
    c.lateFaultAfterBlocks = 2;
    c.busyMs = 0;
    for (sim::LateFault fault :
         {sim::LateFault::Unplug, sim::LateFault::WriteError, sim::LateFault::StaysBusy}) {
        c.lateFault = fault;
        sim::DeviceModel& device = sim::Bus::addAccessory(c);
        const Handle dev = open(device);
        EXPECT_EQ(send(dev.get(), downloadReport(64, 0, pattern(58))), 64);
        EXPECT_EQ(status(dev.get()), statusReply(0, 0, 5));
        EXPECT_EQ(send(dev.get(), downloadReport(64, 1, pattern(58))), 64);
        switch (fault) {
        case sim::LateFault::Unplug:
            EXPECT_EQ(status(dev.get()), Bytes());
            EXPECT_FALSE(device.present());
            break;
        case sim::LateFault::WriteError: // once, then idle with the download abandoned
            EXPECT_EQ(status(dev.get()), statusReply(3, 0, 10));
            EXPECT_EQ(status(dev.get()), statusReply(0, 0, 2));
            EXPECT_EQ(send(dev.get(), downloadReport(64, 0, pattern(4))), 64);
            EXPECT_EQ(status(dev.get()), statusReply(0, 0, 5));
            break;
        default:
            for (int read = 0; read < 3; ++read)
                EXPECT_EQ(status(dev.get()), statusReply(0, 0, 4));
        }
    }
}

struct BackupFaultRow {
    const char* name;
    sim::BackupFault fault;
    Bytes secondReply;   // image of 100 bytes, L = 64, fault from the second reply
    int thirdDataLength; // fault cleared: where the image position was left
};

const BackupFaultRow kBackupFaultRows[] = {
    {"ZeroLength", sim::BackupFault::ZeroLength, backupReply(64, 0, {}), 42},
    {"OverlongLength", sim::BackupFault::OverlongLength, backupReply(64, 0xFFFF, pattern(42, 58)),
     58},
    {"BeyondImage", sim::BackupFault::BeyondImage, backupReply(64, 58, pattern(42, 58)), 58},
};

class SimAccessoryBackupFault : public SimAccessory,
                                public testing::WithParamInterface<BackupFaultRow> {};

TEST_P(SimAccessoryBackupFault, ShapesTheRepliesWithinTheHostBuffer) {
    sim::AccessoryConfig c = config(64);
    c.storedImage = pattern(100);
    sim::DeviceModel& device = sim::Bus::addAccessory(c);
    const Handle dev = open(device);
    device.setBackupFault(GetParam().fault, 2);

    EXPECT_EQ(get(dev.get(), kDataId, 64), backupReply(64, 58, pattern(58)));
    Bytes buffer(80, 0xAA);
    buffer[0] = kDataId;
    EXPECT_EQ(hid_get_feature_report(dev.get(), buffer.data(), 64), 64);
    EXPECT_EQ(buffer, concat(GetParam().secondReply, Bytes(16, 0xAA)));

    device.setBackupFault(sim::BackupFault::None);
    EXPECT_EQ(get(dev.get(), kDataId, 64).at(1), GetParam().thirdDataLength);
}

INSTANTIATE_TEST_SUITE_P(Faults, SimAccessoryBackupFault, testing::ValuesIn(kBackupFaultRows),
                         [](const testing::TestParamInfo<BackupFaultRow>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
