// The engine, linked with the system's hidapi-hidraw, against the accessory
// model plugged into a real Linux kernel through /dev/uhid, or as a USB
// device (kerneltest::onUsb): enumeration, hidraw nodes, the report
// descriptor in sysfs and every feature report go through the kernel's HID
// core, and on USB through usbhid and the USB core as well. Runs as root
// inside the test guest that guest-run.sh boots; anywhere else it skips.
//
// The expected traffic is built by the same builders as the in-process
// engine tests, and the faults both arm come with their codes and texts from
// one table (devicefaults.h), so both attachments of the model are held to
// one standard.

#include "chiddfuengine.h"
#include "devicefaults.h"
#include "devicetraffic.h"
#include "dfufile.h"
#include "enginecalls.h"
#include "hidaccess.h"
#include "hiddfu.h"
#include "kerneltest.h"
#include "testfolder.h"

#include <QFile>
#include <QStringList>
#include <QTest>

#include <functional>
#include <memory>
#include <unistd.h>

using namespace kerneltest;
using namespace traffic;

namespace {

constexpr uint16_t kVendor = kHidDfuVendorId;
constexpr uint16_t kProduct = kHidDfuProductId;
constexpr uint16_t kVendorUsagePage = 0xFF00;
constexpr uint16_t kReportLength = 64;
constexpr uint32_t kPollTimeoutMs = 10;
constexpr int kReenumerateMs = 300;
constexpr uint32_t kStoredImageLength = 1000;
constexpr uint32_t kStoredImageSeed = 7;
// The user the permission test becomes: no access to root's device nodes.
constexpr uid_t kNobody = 65534;

// Generous: the guest runs on an emulated processor.
constexpr int kDeviceAppearsMs = 10000;

// Set by the harness's failure check only: every accessory then reports
// this DFU status, a device gone wrong that the suite must not pass.
const char kForcedStatusVariable[] = "TAVRIN_KERNEL_TEST_DEVICE_STATUS";

using enginecalls::connectAccessory;

using Configure = std::function<void(sim::AccessoryConfig&)>;
using Expect = std::function<Traffic(const Bytes& file)>;

} // namespace

Q_DECLARE_METATYPE(Configure)
Q_DECLARE_METATYPE(Expect)

class tst_Kernel : public QObject, private TestFolder {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void enumerationWalksPastOtherDevices();
    void reportLengthComesFromTheSysfsDescriptor_data();
    void reportLengthComesFromTheSysfsDescriptor();
    void openWithoutPermissionNamesTheNodeAndTheRule();

    void upgradeTraffic_data();
    void upgradeTraffic();
    void upgradeOutcomes_data();
    void upgradeOutcomes();

    void backup_data();
    void backup();

    void resetTakesTheDeviceAwayAndReconnectFindsItAgain();

    void udevTagsTheAccessoryNodeOnly();

private:
    sim::AccessoryConfig baseConfig() const;
    bool plug(const sim::AccessoryConfig& config);
    void unplug();

    std::unique_ptr<sim::Attachment> m_keyboard;
    std::unique_ptr<sim::DeviceModel> m_model;
    std::unique_ptr<sim::Attachment> m_accessory;
};

void tst_Kernel::initTestCase() {
    const QString needs =
        onUsb() ? QStringLiteral("/sys/kernel/config/usb_gadget") : QStringLiteral("/dev/uhid");
    if (!QFile::exists(needs))
        QSKIP(qPrintable(needs + " is missing: this test runs inside the kernel guest (see "
                                 "guest-run.sh)"));
    QVERIFY(m_dir.isValid());
    // Another HID device that stays for the whole run, so every connect walks
    // past it.
    m_keyboard = keyboardAttachment();
    std::string error;
    QVERIFY2(m_keyboard->start(error), error.c_str());
    QTRY_VERIFY_WITH_TIMEOUT(!listHidInterfaces().empty(), kDeviceAppearsMs);
}

void tst_Kernel::cleanup() {
    QVERIFY(enginecalls::waitUntilIdle(kOperationMs));
    QCOMPARE(hidDfuDisconnect(), 0);
    if (m_accessory) {
        for (const std::string& problem : m_accessory->problems())
            qWarning("attachment: %s", problem.c_str());
        QVERIFY(m_accessory->problems().empty());
    }
    unplug();
    QTRY_VERIFY_WITH_TIMEOUT(accessoryPath().empty(), kDeviceAppearsMs);
}

void tst_Kernel::cleanupTestCase() {
    unplug();
    m_keyboard.reset();
}

sim::AccessoryConfig tst_Kernel::baseConfig() const {
    sim::AccessoryConfig config;
    config.featureReportLength = kReportLength;
    config.pollTimeoutMs = kPollTimeoutMs;
    // Ready at once after each block, so the traffic does not depend on how
    // fast the emulated machine runs; busy answers are armed explicitly.
    config.busyMs = 0;
    config.reenumerateMs = kReenumerateMs;
    config.storedImage = dfu::makeImage(kStoredImageLength, kStoredImageSeed);
    config.product = onUsb() ? L"TAVRIN accessory (USB)" : L"TAVRIN accessory (uhid)";
    return config;
}

bool tst_Kernel::plug(const sim::AccessoryConfig& config) {
    m_model = std::make_unique<sim::DeviceModel>(config);
    bool forced = false;
    const int status = qEnvironmentVariableIntValue(kForcedStatusVariable, &forced);
    if (forced)
        m_model->overrideStatus(uint8_t(status), std::nullopt);
    m_accessory = accessoryAttachment(*m_model);
    std::string error;
    if (!m_accessory->start(error)) {
        qWarning("%s", error.c_str());
        return false;
    }
    QElapsedTimer t;
    t.start();
    while (accessoryPath().empty()) {
        if (t.elapsed() > kDeviceAppearsMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

void tst_Kernel::unplug() {
    m_accessory.reset();
    m_model.reset();
}

void tst_Kernel::enumerationWalksPastOtherDevices() {
    QVERIFY(plug(baseConfig()));
    const std::vector<Listed> listed = listHidInterfaces();
    QCOMPARE(listed.size(), std::size_t(2));
    const Listed& keyboard = listed[0];
    const Listed& accessory = listed[1];
    QCOMPARE(keyboard.vendorId, uhid::keyboardIdentity().vendorId);
    QVERIFY(QString::fromStdString(keyboard.path).startsWith("/dev/hidraw"));
    QVERIFY(QString::fromStdString(accessory.path).startsWith("/dev/hidraw"));
    QCOMPARE(accessory.vendorId, kVendor);
    QCOMPARE(accessory.productId, kProduct);
    QCOMPARE(accessory.usagePage, kVendorUsagePage);
    // What the kernel knows of a uhid device: its name and unique ID, no
    // manufacturer. A USB device's strings come from its descriptors.
    QCOMPARE(accessory.product, *baseConfig().product);
    QCOMPARE(accessory.serialNumber, std::wstring(L"SIM-0001"));
    QCOMPARE(accessory.manufacturer, onUsb() ? std::wstring(L"TAVRIN") : std::wstring());

    LogCapture log;
    log.install();
    QCOMPARE(connectAccessory(), 0);
    const QStringList found = warnings(log).filter(QStringLiteral("Device Found"));
    QCOMPARE(found.size(), 2);
    QVERIFY2(found[0].contains(QString::fromStdString(keyboard.path)), qPrintable(found[0]));
    QVERIFY2(found[1].contains(QString::fromStdString(accessory.path)), qPrintable(found[1]));
    QVERIFY2(found[1].contains(QStringLiteral("%1 %2").arg(kVendor).arg(kProduct)),
             qPrintable(found[1]));
    QCOMPARE(connectAccessory(), -2);
    QCOMPARE(std::string(hidDfuGetLastError()), std::string("Already connected"));
}

void tst_Kernel::reportLengthComesFromTheSysfsDescriptor_data() {
    QTest::addColumn<int>("reportLength");
    QTest::newRow("64") << 64;
    QTest::newRow("32") << 32;
    QTest::newRow("255") << 255;
}

void tst_Kernel::reportLengthComesFromTheSysfsDescriptor() {
    QFETCH(int, reportLength);
    sim::AccessoryConfig config = baseConfig();
    config.featureReportLength = uint16_t(reportLength);
    QVERIFY(plug(config));
    const std::string path = accessoryPath();
    std::vector<uint8_t> descriptor;
    std::string error;
    QVERIFY2(platform::readStoredDescriptor(path.c_str(), descriptor, error), error.c_str());
    // The kernel serves the descriptor the device was created with, byte for byte.
    QCOMPARE(descriptor, m_model->reportDescriptor());
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(int(hidDfuEngine().reportLength()), reportLength);
}

void tst_Kernel::openWithoutPermissionNamesTheNodeAndTheRule() {
    if (::geteuid() != 0)
        QSKIP("needs root to give up the right to open the node");
    QVERIFY(plug(baseConfig()));
    const std::string path = accessoryPath();
    LogCapture log;
    log.install();
    // The node belongs to root, as on a desktop without the udev rule.
    QCOMPARE(::seteuid(kNobody), 0);
    const int32 result = connectAccessory();
    QCOMPARE(::seteuid(0), 0);
    QCOMPARE(result, -2);
    QCOMPARE(std::string(hidDfuGetLastError()), std::string("Failed to connect to device"));
    const QString expected = QStringLiteral("Cannot open %1 : Permission denied - to reach the "
                                            "accessory without root, install the udev rule "
                                            "70-tavrin-accessory.rules (see README)")
                                 .arg(QString::fromStdString(path));
    QVERIFY2(warnings(log).contains(expected), qPrintable(warnings(log).join('\n')));
    // Root opens it.
    QCOMPARE(connectAccessory(), 0);
}

void tst_Kernel::upgradeTraffic_data() {
    QTest::addColumn<int>("reportLength");
    QTest::addColumn<int>("imageLength");
    QTest::newRow("one block") << 64 << 40;
    QTest::newRow("two full blocks") << 64 << 2 * 58;
    QTest::newRow("three blocks, one byte in the last") << 64 << 2 * 58 + 1;
    QTest::newRow("4 KiB") << 64 << 4096;
    QTest::newRow("report length 32 from the descriptor") << 32 << 1000;
}

void tst_Kernel::upgradeTraffic() {
    QFETCH(int, reportLength);
    QFETCH(int, imageLength);
    sim::AccessoryConfig config = baseConfig();
    config.featureReportLength = uint16_t(reportLength);
    QVERIFY(plug(config));
    const Bytes image = dfu::makeImage(uint32_t(imageLength), uint32_t(imageLength));
    const Bytes file = dfu::makeDfuFile(image);
    const QString path = writeFile(QStringLiteral("upgrade.dfu"), file);

    QCOMPARE(connectAccessory(), 0);
    const int32 result = runUpgrade(path);
    QVERIFY2(result == 0, hidDfuGetLastError());
    const Traffic expected = healthyUpgrade(std::size_t(reportLength), file, kPollTimeoutMs);
    const Traffic actual = recorded(*m_model);
    QVERIFY2(actual == expected,
             qPrintable("received:\n" + describe(actual) + "expected:\n" + describe(expected)));
    QCOMPARE(m_model->storedImage(), image);
}

void tst_Kernel::upgradeOutcomes_data() {
    QTest::addColumn<Configure>("configure");
    QTest::addColumn<Setup>("arm");
    QTest::addColumn<Expect>("expect");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    const Configure asIs = [](sim::AccessoryConfig&) {};
    const Setup nothing = [](sim::DeviceModel&) {};
    const uint32_t pt = kPollTimeoutMs;
    const std::size_t L = kReportLength;
    const Entry busy = status(0, pt, sim::DeviceModel::kStateDfuDnBusy);
    const Entry failedStatusRead{sim::Direction::DeviceToHost, {}};

    QTest::newRow("busy once, then ready")
        << asIs << Setup([](sim::DeviceModel& d) { d.answerBusy(1); })
        << Expect([=](const Bytes& f) { return Traffic{busy} + healthyUpgrade(L, f, pt); }) << 0
        << QString();
    const devicefaults::Fault busy2 = devicefaults::busyTwice(),
                              status3 = devicefaults::statusThree(),
                              statusRead = devicefaults::statusReadFails(),
                              dataReport = devicefaults::dataReportFails(1),
                              endOfDownload = devicefaults::endOfDownloadFails(4);
    const Expect busyTwice = [=](const Bytes&) { return Traffic{busy, busy}; };
    QTest::newRow("busy twice ends the run")
        << asIs << busy2.setup << busyTwice << busy2.code << busy2.text;
    QTest::newRow("corrupt firmware is cleared first") << Configure([](sim::AccessoryConfig& c) {
        c.initialStatus = sim::DeviceModel::kStatusErrFirmware;
    }) << nothing << Expect([=](const Bytes& f) {
        return Traffic{status(sim::DeviceModel::kStatusErrFirmware, pt, kIdle), command(4)} +
               healthyUpgrade(L, f, pt);
    }) << 0 << QString();
    QTest::newRow("status 3 ends the run") << asIs << status3.setup << Expect([=](const Bytes&) {
        return Traffic{status(3, pt, kIdle)};
    }) << status3.code << status3.text;
    QTest::newRow("status read fails") << asIs << statusRead.setup << Expect([=](const Bytes&) {
        return Traffic{failedStatusRead};
    }) << statusRead.code << statusRead.text;
    QTest::newRow("download report fails")
        << asIs << dataReport.setup << Expect([=](const Bytes& f) {
               Traffic t = firstOf(healthyUpgrade(L, f, pt), 2);
               t.back() = refused(t.back());
               return t;
           })
        << dataReport.code << dataReport.text;
    // Three data reports, then the end of the download is the fourth ID 1 report.
    QTest::newRow("end of download fails")
        << asIs << endOfDownload.setup << Expect([=](const Bytes& f) {
               const Traffic all = healthyUpgrade(L, f, pt);
               Traffic t = firstOf(all, all.size() - 1);
               t.back() = refused(t.back());
               return t;
           })
        << endOfDownload.code << endOfDownload.text;
}

void tst_Kernel::upgradeOutcomes() {
    QFETCH(Configure, configure);
    QFETCH(Setup, arm);
    QFETCH(Expect, expect);
    QFETCH(int, code);
    QFETCH(QString, text);
    sim::AccessoryConfig config = baseConfig();
    configure(config);
    QVERIFY(plug(config));
    const Bytes file = dfu::makeDfuFile(dfu::makeImage(2 * 58 + 1, 3));
    const QString path = writeFile(QStringLiteral("outcome.dfu"), file);

    QCOMPARE(connectAccessory(), 0);
    arm(*m_model);
    QCOMPARE(runUpgrade(path), code);
    if (!text.isEmpty())
        QCOMPARE(QString::fromLatin1(hidDfuGetLastError()), text);
    const Traffic expected = expect(file);
    const Traffic actual = recorded(*m_model);
    QVERIFY2(actual == expected,
             qPrintable("received:\n" + describe(actual) + "expected:\n" + describe(expected)));
}

void tst_Kernel::backup_data() {
    QTest::addColumn<int>("imageLength");
    QTest::addColumn<Setup>("arm");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const Setup nothing = [](sim::DeviceModel&) {};
    QTest::newRow("100 bytes") << 100 << nothing << 0 << QString();
    QTest::newRow("1000 bytes") << 1000 << nothing << 0 << QString();
    const devicefaults::Fault empty = devicefaults::backupLengthZero();
    QTest::newRow("device reports length zero") << 1000 << empty.setup << empty.code << empty.text;
}

void tst_Kernel::backup() {
    QFETCH(int, imageLength);
    QFETCH(Setup, arm);
    QFETCH(int, code);
    QFETCH(QString, text);
    sim::AccessoryConfig config = baseConfig();
    config.storedImage = dfu::makeImage(uint32_t(imageLength), kStoredImageSeed);
    QVERIFY(plug(config));
    const QString path = m_dir.filePath(QStringLiteral("tavrinFirmware.backup"));
    QFile::remove(path);

    QCOMPARE(connectAccessory(), 0);
    arm(*m_model);
    QCOMPARE(runBackup(path), code);
    if (code != 0) {
        QCOMPARE(QString::fromLatin1(hidDfuGetLastError()), text);
        QCOMPARE(readFile(path), Bytes());
        return;
    }
    const Traffic expected = healthyBackup(kReportLength, config.storedImage);
    const Traffic actual = recorded(*m_model);
    QVERIFY2(actual == expected,
             qPrintable("received:\n" + describe(actual) + "expected:\n" + describe(expected)));
    QCOMPARE(readFile(path), dfu::makeDfuFile(config.storedImage));
    verifyFileSuffix(path);
}

// The whole session of the wizard and after: connect, upgrade, reset (the
// device leaves the bus and comes back as a new kernel device), a new
// connect, and a backup of what the upgrade wrote.
void tst_Kernel::resetTakesTheDeviceAwayAndReconnectFindsItAgain() {
    QVERIFY(plug(baseConfig()));
    const Bytes image = dfu::makeImage(500, 11);
    const QString upgradePath = writeFile(QStringLiteral("session.dfu"), dfu::makeDfuFile(image));
    const QString before = kernelDeviceOf(accessoryPath());
    QVERIFY(!before.isEmpty());

    QCOMPARE(connectAccessory(), 0);
    const int32 upgraded = runUpgrade(upgradePath);
    QVERIFY2(upgraded == 0, hidDfuGetLastError());
    m_model->clearRecords();
    QCOMPARE(hidDfuReset(), 0);
    QCOMPARE(recorded(*m_model), Traffic{command(0xFF)});
    QCOMPARE(m_model->resetCount(), 1);

    // Gone, then back under a new kernel device.
    QTRY_COMPARE_WITH_TIMEOUT(m_accessory->creations(), 2, kDeviceAppearsMs);
    QTRY_VERIFY_WITH_TIMEOUT(!accessoryPath().empty(), kDeviceAppearsMs);
    const QString after = kernelDeviceOf(accessoryPath());
    QVERIFY(!after.isEmpty());
    QVERIFY2(after != before, qPrintable(before + " " + after));

    QCOMPARE(connectAccessory(), 0);
    const QString backupPath = m_dir.filePath(QStringLiteral("session.backup"));
    const int32 backedUp = runBackup(backupPath);
    QVERIFY2(backedUp == 0, hidDfuGetLastError());
    const Bytes backupFile = readFile(backupPath);
    QCOMPARE(backupFile, dfu::makeDfuFile(image));
    verifyFileSuffix(backupPath);
}

// Debian's own udev, started by the guest's /init with nothing but the
// project's rule, must give the user at the seat the accessory and nothing
// else.
void tst_Kernel::udevTagsTheAccessoryNodeOnly() {
    if (!QFile::exists(QStringLiteral("/bin/udevadm")))
        QSKIP("no udev in this guest (guest-run.sh --udev-rule)");
    QVERIFY(plug(baseConfig()));
    // The keyboard is plugged in first (initTestCase), so it is listed first.
    const Listed keyboard = listHidInterfaces().front();
    QCOMPARE(keyboard.vendorId, uhid::keyboardIdentity().vendorId);
    QCOMPARE(udevTags(accessoryPath()), QStringLiteral(":uaccess:"));
    QCOMPARE(udevTags(keyboard.path), QString());
}

QTEST_GUILESS_MAIN(tst_Kernel)
#include "tst_kernel.moc"
