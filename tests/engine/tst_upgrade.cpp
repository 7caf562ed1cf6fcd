// The upgrade procedure through the engine's call interface, against the
// simulated accessory: the reports it sends, how it ends on each failure,
// busy and status 10 answers, its progress values, a file changed during the
// write, and the upgrade half of the fault matrix.

#include "enginetest.h"
#include "testplatform.h"

#include "workersleep.h"

#include <QFile>
#include <QList>
#include <QRegularExpression>

using namespace enginetest;
using namespace traffic;

namespace {

// A raw descriptor with a single feature report: ID 1 of dataBytes bytes.
Bytes singleFeatureDescriptor(uint8_t dataBytes) {
    return {0x06, 0x00, 0xFF, 0x09,      0x01, 0xA1, 0x01, 0x85, 0x01,
            0x75, 0x08, 0x95, dataBytes, 0x09, 0x01, 0xB1, 0x02, 0xC0};
}

// Stands for a FIFO in the upgrade's failure rows: opening one for reading
// waits for a writer.
const Bytes kFifo{'f', 'i', 'f', 'o'};
const Bytes kOversize{'b', 'i', 'g'};

// The accessory of an upgradeFailures row: "L 255" rows have 255-byte
// reports, each taking a full-speed device's time on the worker's clock (one
// 1 ms frame per stage: setup, each 64-byte packet, status).
sim::AccessoryConfig failureRowAccessory(const QByteArray& tag) {
    sim::AccessoryConfig config;
    if (tag == "report length 6") {
        config.featureReportLength = 6;
        config.descriptorOverride = singleFeatureDescriptor(5);
    } else if (tag.startsWith("L 255")) {
        config.featureReportLength = 255;
        config.spendTransferTime = [](std::size_t bytes) {
            spendWorkerTime(std::chrono::milliseconds(2 + (bytes + 63) / 64));
        };
    }
    return config;
}

} // namespace

class tst_Upgrade : public EngineTest {
    Q_OBJECT

private slots:
    void upgradeTraffic_data();
    void upgradeTraffic();
    void upgradeFailures_data();
    void upgradeFailures();
    void writeFacts_data();
    void writeFacts();
    void busyOnceCostsOneSleep();
    void anErrorAtTheStartIsClearedOnce_data();
    void anErrorAtTheStartIsClearedOnce();
    void statusTenLaterEndsTheRun();
    void aFileChangedDuringTheWriteIsNotSent();
    void progressValues_data();
    void progressValues();
    void faultMatrix_data();
    void faultMatrix();
};

void tst_Upgrade::upgradeTraffic_data() {
    QTest::addColumn<int>("L");
    QTest::addColumn<Bytes>("image");
    QTest::addColumn<Bytes>("sent");
    const Bytes i117 = dfu::makeImage(2 * 58 + 1);
    const Bytes i1160 = dfu::makeImage(1160);
    const Bytes i40 = dfu::makeImage(40);
    QTest::newRow("N <= L - 6") << 64 << i40 << i40;
    QTest::newRow("N = L - 6") << 64 << dfu::makeImage(58) << dfu::makeImage(58);
    QTest::newRow("L 64, N = 2 x 58 + 1") << 64 << i117 << i117;
    QTest::newRow("L 64, N = 1160") << 64 << i1160 << i1160;
    QTest::newRow("L 7, one byte a report") << 7 << dfu::makeImage(20) << dfu::makeImage(20);
    QTest::newRow("L 12, length field past the first report")
        << 12 << dfu::makeImage(50) << dfu::makeImage(50);
    QTest::newRow("block number wraps after 65535")
        << 7 << dfu::makeImage(65536 + 3) << dfu::makeImage(65536 + 3);
    Bytes longer = imageDeclaring(100, 60);
    QTest::newRow("N below the image size sends N bytes")
        << 64 << longer << Bytes(longer.begin(), longer.begin() + 60);
}

void tst_Upgrade::upgradeTraffic() {
    QFETCH(int, L);
    QFETCH(Bytes, image);
    QFETCH(Bytes, sent);
    sim::AccessoryConfig config;
    config.featureReportLength = uint16_t(L);
    config.pollTimeoutMs = 2;
    config.busyMs = 0;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const Bytes file = dfu::makeDfuFile(image);
    const QString path = writeFile("upgrade.dfu", file);

    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);

    const Traffic expected = healthyUpgrade(std::size_t(L), file, config.pollTimeoutMs);
    const Traffic actual = recorded(device);
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i)
        QVERIFY2(actual[i] == expected[i],
                 qPrintable(QString("report %1 differs:\nexpected\n").arg(i) +
                            describe({expected[i]}) + "actual\n" + describe({actual[i]})));
    QCOMPARE(actual.size(), expected.size());
    QCOMPARE(device.receivedImage(), sent);
}

void tst_Upgrade::upgradeFailures_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<Bytes>("file");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("reports");
    const Bytes good = dfu::makeDfuFile(dfu::makeImage(200));
    Bytes badCrc = good;
    badCrc[3] ^= 1;
    const Setup none = [](sim::DeviceModel&) {};
    const devicefaults::Fault status3 = devicefaults::statusThree(),
                              busy2 = devicefaults::busyTwice(),
                              statusRead = devicefaults::statusReadFails(),
                              dataReport = devicefaults::dataReportFails(2),
                              endOfDownload = devicefaults::endOfDownloadFails(5);
    QTest::newRow("status 3") << status3.setup << good << status3.code << status3.text << 1;
    // Cleared once, read again.
    QTest::newRow("state dfuERROR") << Setup([](sim::DeviceModel& d) { d.overrideStatus({}, 10); })
                                    << good << -8 << "Upgrade failed (DFU status code = 0)" << 3;
    QTest::newRow("busy twice") << busy2.setup << good << busy2.code << busy2.text << 2;
    QTest::newRow("status 10 stays after clearing")
        << Setup([](sim::DeviceModel& d) { d.overrideStatus(10, {}); }) << good << -16
        << "Device firmware is corrupt" << 3;
    QTest::newRow("clear status refused") << Setup([](sim::DeviceModel& d) {
        d.overrideStatus(10, {});
        d.failReport(sim::Direction::HostToDevice, 3);
    }) << good << -15 << "Failed to clear device status"
                                          << 2;
    QTest::newRow("first status read fails")
        << statusRead.setup << good << statusRead.code << statusRead.text << 1;
    QTest::newRow("download report fails")
        << dataReport.setup << good << dataReport.code << dataReport.text << 4;
    QTest::newRow("end of download fails")
        << endOfDownload.setup << good << endOfDownload.code << endOfDownload.text << 10;
    QTest::newRow("unplugged mid-transfer")
        << Setup([](sim::DeviceModel& d) { d.unplugAtReport(5); }) << good << -12
        << "Failed to get feature information (GetStatus)" << 5;
    QTest::newRow("bad CRC") << none << badCrc << -6 << "File CRC is incorrect" << 0;
    QTest::newRow("too short") << none << Bytes(15, 0) << -5 << "File too short" << 0;
    QTest::newRow("report length 6") << Setup([](sim::DeviceModel&) {}) << good << -5
                                     << "File format is invalid, no payload found" << 0;
    QTest::newRow("suffix only") << none << dfu::makeDfuFile({}) << -5
                                 << "Image is 0 bytes long; its length field needs 14" << 0;
    QTest::newRow("length field 0") << none << dfu::makeDfuFile(imageDeclaring(100, 0)) << -5
                                    << "Image length field says 0 bytes" << 0;
    QTest::newRow("length field past the image")
        << none << dfu::makeDfuFile(imageDeclaring(1024, 64u << 20)) << -5
        << "Image length field says 67108864 bytes; the file holds 1024" << 0;
    QTest::newRow("FIFO") << none << kFifo << -3 << "Failed to open file \"%1\": not a regular file"
                          << 0;
    QTest::newRow("file over 16 MiB")
        << none << kOversize << -5 << "File is 16777217 bytes; at most 16777216 bytes are accepted"
        << 0;
    QTest::newRow("status of the report ID alone")
        << Setup([](sim::DeviceModel& d) { d.shortenReply(2, 1); }) << good << -12
        << "Device sent 1 of 7 status bytes" << 1;
    // Minutes of the device's waits pass at once (the test's worker clock).
    QTest::newRow("busy for 59 s after every block")
        << Setup([](sim::DeviceModel& d) {
               skipWorkerWaits(true);
               d.announcePollTimeout(59000, 2);
               d.answerBusyAfterEachBlock(1);
           })
        << good << -17
        << "Device did not complete the write within 60 s, the time allowed for 200 bytes" << 6;
    // The bound comes from the image, whatever the first status asks for.
    QTest::newRow("first status asks 59 s, busy after every block")
        << Setup([](sim::DeviceModel& d) {
               skipWorkerWaits(true);
               d.announcePollTimeout(59000);
               d.answerBusyAfterEachBlock(1);
           })
        << dfu::makeDfuFile(dfu::makeImage(4096)) << -17
        << "Device did not complete the write within 67 s, the time allowed for 4096 bytes" << 6;
    // An honest slow device: 120 ms to program each 255-byte block, with its
    // transfers, through 1 MiB; 4,212 blocks of a busy and a ready read each.
    const Bytes mebibyte = dfu::makeDfuFile(dfu::makeImage(1 << 20));
    const Setup programs120ms = [](sim::DeviceModel& d) {
        skipWorkerWaits(true);
        d.announcePollTimeout(120);
        d.answerBusyAfterEachBlock(1);
    };
    QTest::newRow("L 255, 120 ms a block through 1 MiB")
        << programs120ms << mebibyte << 0 << "Busy, operation in progress" << 1 + 4212 * 3 + 2;
    // Thirty blocks pass; the 31st block's busy wait would end past the bound.
    const Setup stalls = [](sim::DeviceModel& d) {
        skipWorkerWaits(true);
        d.announcePollTimeout(59000);
        d.answerBusyAfterEachBlock(1);
    };
    QTest::newRow("L 255, busy for 59 s after every block of 1 MiB")
        << stalls << mebibyte << -17
        << "Device did not complete the write within 1795 s, the time allowed for 1048576 bytes"
        << 1 + 30 * 3 + 2;
    // Eleven reads across the minute, not one after another until it ends.
    const Setup unplugInLongPoll = [](sim::DeviceModel& d) {
        skipWorkerWaits(true);
        d.announcePollTimeout(60000);
        d.unplugAtReport(3);
    };
    QTest::newRow("status reads fail through a 60 s poll")
        << unplugInLongPoll << good << statusRead.code << statusRead.text << 2 + 11;
    const Setup oneFailedRead = [](sim::DeviceModel& d) {
        skipWorkerWaits(true);
        d.announcePollTimeout(40);
        d.failReport(sim::Direction::DeviceToHost, 2, 2);
    };
    QTest::newRow("a status read that fails once is read again")
        << oneFailedRead << good << 0 << statusRead.text << 11 + 1;
    QTest::newRow("poll timeout of 4.66 hours")
        << Setup([](sim::DeviceModel& d) { d.announcePollTimeout(0xFFFFFF); }) << good << -8
        << "Device asked to wait 16777215 ms; at most 60000 ms is accepted" << 1;
}

void tst_Upgrade::upgradeFailures() {
    QFETCH(Setup, setup);
    QFETCH(Bytes, file);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(int, reports);
    sim::DeviceModel& device = sim::Bus::addAccessory(failureRowAccessory(QTest::currentDataTag()));
    QCOMPARE(connectAccessory(), 0);
    setup(device);
    QString path = m_dir.filePath("failure.fifo");
    if (file == kFifo) {
        // On Windows a named pipe, under a name of its own.
        path = QFile::decodeName(
            testplatform::makeFifo(QFile::encodeName(path).toStdString()).c_str());
        QVERIFY(!path.isEmpty());
    } else if (file == kOversize) {
        QFile big(path = m_dir.filePath("oversize.dfu"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize((16 << 20) + 1));
    } else {
        path = writeFile("failure.dfu", file);
    }
    const auto begun = workerNow();
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), code);
    QCOMPARE(QString::fromStdString(lastError()), text.replace("%1", path));
    QCOMPARE(int(device.records().size()), reports);
    // A write cut off by its time bound has not run past the bound it states.
    const QRegularExpressionMatch bound = QRegularExpression("within (\\d+) s,").match(text);
    if (bound.hasMatch())
        QVERIFY(std::chrono::duration_cast<std::chrono::seconds>(workerNow() - begun).count() <=
                bound.captured(1).toInt());
    // nothing is sent after a failure
    QCOMPARE(device.resetCount(), 0);
    // the device stays connected
    QCOMPARE(sim::Bus::openConnections(), 1);
}

// How far each write got and what the accessory said last, as support reads
// it: 200 bytes go out as blocks of 58, 58, 58 and 26.
void tst_Upgrade::writeFacts_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<Bytes>("file");
    QTest::addColumn<int>("code");
    QTest::addColumn<QList<int>>("facts"); // written, total, status, state
    const Bytes good = dfu::makeDfuFile(dfu::makeImage(200));
    Bytes badCrc = good;
    badCrc[3] ^= 1;
    const Setup none = [](sim::DeviceModel&) {};
    QTest::newRow("whole write") << none << good << 0 << QList<int>{200, 200, 0, kIdle};
    QTest::newRow("still busy after the first block")
        << Setup([](sim::DeviceModel& d) { d.answerBusyAfterEachBlock(2); }) << good << -8
        << QList<int>{58, 200, 0, kDnBusy};
    QTest::newRow("status 3 at the start")
        << devicefaults::statusThree().setup << good << -8 << QList<int>{0, 200, 3, kIdle};
    QTest::newRow("unplugged after two blocks")
        << Setup([](sim::DeviceModel& d) { d.unplugAtReport(5); }) << good << -12
        << QList<int>{116, 200, 0, kDnloadIdle};
    QTest::newRow("bad CRC: nothing read or sent")
        << none << badCrc << -6 << QList<int>{0, 0, -1, -1};
}

void tst_Upgrade::writeFacts() {
    QFETCH(Setup, setup);
    QFETCH(Bytes, file);
    QFETCH(int, code);
    QFETCH(QList<int>, facts);
    sim::AccessoryConfig config;
    config.busyMs = 0;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    QCOMPARE(connectAccessory(), 0);
    setup(device);
    skipWorkerWaits(true);
    QCOMPARE(hidDfuUpgradeImage(file.data(), file.size()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), code);
    const HidDfuWriteFacts got = hidDfuGetWriteFacts();
    QCOMPARE((QList<int>{int(got.bytesWritten), int(got.totalBytes), got.dfuStatus, got.dfuState}),
             facts);
}

void tst_Upgrade::busyOnceCostsOneSleep() {
    sim::AccessoryConfig config;
    config.pollTimeoutMs = 40;
    config.busyMs = 0;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    device.answerBusy(1);
    const Bytes file = dfu::makeDfuFile(dfu::makeImage(40));
    const QString path = writeFile("busy.dfu", file);
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    // The busy report stays the last text: the code tells success.
    QCOMPARE(lastError(), std::string("Busy, operation in progress"));

    Traffic expected = healthyUpgrade(64, file, 40);
    expected.insert(expected.begin(), status(0, 40, 4));
    QCOMPARE(recorded(device), expected);
}

void tst_Upgrade::anErrorAtTheStartIsClearedOnce_data() {
    QTest::addColumn<int>("dfuStatus");
    QTest::addColumn<bool>("inError");
    QTest::addColumn<QString>("text");
    QTest::newRow("status 10") << 10 << false << "Device firmware is corrupt";
    QTest::newRow("status 8 in dfuERROR, as a lost block leaves it")
        << 8 << true << "Upgrade failed (DFU status code = 8)";
    QTest::newRow("status 0 in dfuERROR") << 0 << true << "Upgrade failed (DFU status code = 0)";
}

void tst_Upgrade::anErrorAtTheStartIsClearedOnce() {
    QFETCH(int, dfuStatus);
    QFETCH(bool, inError);
    QFETCH(QString, text);
    sim::AccessoryConfig config;
    config.initialStatus = uint8_t(dfuStatus);
    config.startsInError = inError;
    config.pollTimeoutMs = 3;
    config.busyMs = 0;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const Bytes file = dfu::makeDfuFile(dfu::makeImage(100));
    const QString path = writeFile("error-at-start.dfu", file);
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    // The recovered condition stays the last text; the code tells success.
    QCOMPARE(QString::fromStdString(lastError()), text);

    Traffic expected = healthyUpgrade(64, file, 3);
    expected.insert(expected.begin(),
                    {status(uint8_t(dfuStatus), 3, inError ? kDfuError : kIdle), command(0x04)});
    QCOMPARE(recorded(device), expected);
    QCOMPARE(device.storedImage(), dfu::makeImage(100));
}

void tst_Upgrade::statusTenLaterEndsTheRun() {
    sim::AccessoryConfig config;
    config.reportDelayUs = 3000;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const QString path = writeFile("later.dfu", dfu::makeDfuFile(dfu::makeImage(58 * 50)));
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QTRY_VERIFY(device.receivedImage().size() >= 58);
    device.overrideStatus(10, {});
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), -16);
    QCOMPARE(lastError(), std::string("Device firmware is corrupt"));
    const Traffic t = recorded(device);
    // only the first wait clears status 10
    QCOMPARE(t.back(), status(10, 0, kDnloadIdle));
    for (const auto& e : t)
        QVERIFY(!(e.bytes.size() == 2 && e.bytes[0] == 3));
}

void tst_Upgrade::aFileChangedDuringTheWriteIsNotSent() {
    sim::AccessoryConfig config;
    config.reportDelayUs = 3000;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const Bytes image = dfu::makeImage(58 * 50);
    const QString path = writeFile("changing.dfu", dfu::makeDfuFile(image));
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QTRY_VERIFY(device.receivedImage().size() >= 58);
    writeFile("changing.dfu", Bytes(1000, 0));
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    QCOMPARE(device.storedImage(), image);
}

void tst_Upgrade::progressValues_data() {
    QTest::addColumn<uint32_t>("length");
    QTest::addColumn<QList<int>>("progress");
    QTest::newRow("upgrade, N = 2 x 58 + 1") << 117u << QList<int>{0, 49, 99};
    QTest::newRow("upgrade, N = 1160, double precision")
        << 1160u
        << QList<int>{0, 5, 10, 15, 20, 25, 30, 35, 40, 44, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95};
}

void tst_Upgrade::progressValues() {
    QFETCH(uint32_t, length);
    QFETCH(QList<int>, progress);
    const Bytes image = dfu::makeImage(length);
    compareWorkerProgress(image, false, writeFile("progress.dfu", dfu::makeDfuFile(image)),
                          progress);
}

void tst_Upgrade::faultMatrix_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const QString getStatus = "Failed to get feature information (GetStatus)";
    const Traffic upgrade = healthyUpgrade(64, dfu::makeDfuFile(dfu::makeImage(kMatrixImage)), 0);
    for (int p = 1; p <= int(upgrade.size()); ++p) {
        const Entry& e = upgrade[std::size_t(p - 1)];
        const bool status = e.bytes[0] == 2, last = p == int(upgrade.size()) - 1;
        const QString lost = status ? getStatus
                             : last ? "Write to device failed attempting to complete upgrade"
                                    : "Failed to write to device";
        for (int fault : {Fails, StopsAnswering, Busy, BadStatus, BadState, ShortReply}) {
            if (!status && fault >= Busy)
                continue;
            const bool dropped = fault <= StopsAnswering;
            QTest::addRow("upgrade, report %d %s", p, kFaultNames[fault])
                << p << fault << (dropped || fault == ShortReply ? -12 : -8)
                << (dropped               ? lost
                    : fault == ShortReply ? QString("Device sent 1 of 7 status bytes")
                                          : QString("Upgrade failed (DFU status code = %1)")
                                                .arg(fault == BadStatus ? 3 : 0));
        }
    }
}

void tst_Upgrade::faultMatrix() {
    QFETCH(int, position);
    QFETCH(int, fault);
    QFETCH(int, code);
    QFETCH(QString, text);
    runFaultCase(false, writeFile("matrix.dfu", dfu::makeDfuFile(matrixImage())), position, fault,
                 code, text);
}

QTEST_GUILESS_MAIN(tst_Upgrade)
#include "tst_upgrade.moc"
