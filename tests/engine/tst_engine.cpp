// The engine through its call interface, against the simulated accessory.

#include "asyncworker.h"
#include "chiddfuengine.h"
#include "devicelock.h"
#include "devicetraffic.h"
#include "enginecalls.h"
#include "hiddfu.h"
#include "simbus.h"
#include "testplatform.h"
#include "workerclock.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <hidapi/hidapi.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

using namespace traffic;

namespace {

constexpr uint16_t kVendor = kHidDfuVendorId;
constexpr uint16_t kProduct = kHidDfuProductId;

using enginecalls::connectAccessory;

bool waitUntilIdle(int timeoutMs = 20000) {
    return enginecalls::waitUntilIdle(timeoutMs);
}

std::string lastError() {
    return hidDfuGetLastError();
}

// A raw descriptor with a single feature report: ID 1 of dataBytes bytes.
Bytes singleFeatureDescriptor(uint8_t dataBytes) {
    return {0x06, 0x00, 0xFF, 0x09,      0x01, 0xA1, 0x01, 0x85, 0x01,
            0x75, 0x08, 0x95, dataBytes, 0x09, 0x01, 0xB1, 0x02, 0xC0};
}

// An image whose length field says declared, whatever its real size.
Bytes imageDeclaring(uint32_t realSize, uint32_t declared, uint32_t seed = 5) {
    Bytes image = dfu::makeImage(std::max<uint32_t>(realSize, 14), seed);
    image.resize(realSize < 14 ? 14 : realSize);
    dfu::putLe32(image.data() + dfu::kImageLengthOffset, declared);
    return image;
}

// Stands for a FIFO in the upgrade's failure rows: opening one for reading
// waits for a writer.
const Bytes kFifo{'f', 'i', 'f', 'o'};
const Bytes kOversize{'b', 'i', 'g'};
DeviceLock heldLock; // a lock on the accessory's node that a test holds
bool lockHeld = false;

} // namespace

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(std::function<void(sim::DeviceModel&)>)

using Setup = std::function<void(sim::DeviceModel&)>;

class tst_Engine : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString writeFile(const QString& name, const Bytes& bytes) {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        return path;
    }
    Bytes readFile(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const QByteArray all = f.readAll();
        return Bytes(all.begin(), all.end());
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsIdleWithNoError();
    void errorTableTexts_data();
    void errorTableTexts();

    void connectWalksInOrderAndOpensTheFirstMatch();
    void connectFailures_data();
    void connectFailures();
    void connectReadsTheReportLengthFromTheDescriptor_data();
    void connectReadsTheReportLengthFromTheDescriptor();
    void connectPathChoosesOneOfSeveral_data();
    void connectPathChoosesOneOfSeveral();
    void openRefusedNamesTheNodeAndTheRule();
    void disconnectAndReset();
    void refusedStarts_data();
    void refusedStarts();
    void callsWhileRunning();
    void backupWithoutReportLengthIsRefusedFirst();

    void upgradeTraffic_data();
    void upgradeTraffic();
    void upgradeFailures_data();
    void upgradeFailures();
    void busyOnceCostsOneSleep();
    void statusTenAtTheStartIsCleared();
    void statusTenLaterEndsTheRun();
    void aFileChangedDuringTheWriteIsNotSent();
    void progressValues_data();
    void progressValues();

    void backupOfAHundredBytes();
    void backupFailuresKeepThePreviousBackup_data();
    void backupFailuresKeepThePreviousBackup();
    void backupWithSmallReports_data();
    void backupWithSmallReports();
    void backupToAnUnwritableFolder();

    void faultMatrix_data();
    void faultMatrix();

    void operationsInARow();
    void progressIsCappedAndNeverMeansFinishedWhileRunning();
    void resultAndTextAreFreshOnceProgressSays100();
    void destroyingAnEngineWhileItRunsWaitsForTheTransfer();
};

void tst_Engine::initTestCase() {
    QVERIFY(m_dir.isValid());
}

void tst_Engine::init() {
    sim::Bus::reset();
}

void tst_Engine::cleanup() {
    QVERIFY(waitUntilIdle());
    skipWorkerWaits(false);
    QCOMPARE(hidDfuDisconnect(), 0);
    sim::Bus::reset();
}

void tst_Engine::startsIdleWithNoError() {
    QCOMPARE(int(hidDfuGetProgress()), 100);
    QCOMPARE(hidDfuGetResult(), 0);
    QCOMPARE(lastError(), std::string());
}

void tst_Engine::errorTableTexts_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "";
    QTest::newRow("-1") << -1 << "Invalid sequence (hidDfuConnect must be called first)";
    QTest::newRow("-2") << -2 << "Failed to connect to device";
    QTest::newRow("-3") << -3 << "Failed to open file";
    QTest::newRow("-4") << -4 << "Failed to write to file";
    QTest::newRow("-5") << -5 << "File format is invalid";
    QTest::newRow("-6") << -6 << "File CRC is incorrect";
    QTest::newRow("-7") << -7 << "File read failed";
    QTest::newRow("-8") << -8 << "Upgrade failed";
    QTest::newRow("-9") << -9 << "Device reset failed";
    QTest::newRow("-10") << -10 << "Out of memory";
    QTest::newRow("-11") << -11 << "Invalid parameter";
    QTest::newRow("-12") << -12 << "Driver operation failed";
    QTest::newRow("-13") << -13 << "Operation failed to start";
    QTest::newRow("-14") << -14 << "Busy, operation in progress";
    QTest::newRow("-15") << -15 << "Failed to clear device status";
    QTest::newRow("-16") << -16 << "Device firmware is corrupt";
    QTest::newRow("-17") << -17 << "Operation took too long";
    QTest::newRow("-18") << -18 << "Unknown error code";
    QTest::newRow("-19") << -19 << "Unknown error code";
    QTest::newRow("-20") << -20 << "Unknown error";
    QTest::newRow("-21") << -21 << "Unknown error code";
    QTest::newRow("5") << 5 << "Unknown error code";
}

void tst_Engine::errorTableTexts() {
    QFETCH(int, code);
    QFETCH(QString, text);
    CHidDfuErrorState state;
    QCOMPARE(state.table().size(), std::size_t(19));
    QCOMPARE(state.setCode(code), code);
    QCOMPARE(QString::fromStdString(state.text()), text);
    QCOMPARE(state.code(), code);
    QCOMPARE(state.setCodeAndText(-8, "own words"), -8);
    QCOMPARE(state.text(), std::string("own words"));
    // The reports of a running worker reach the engine through these slots.
    hidDfuEngine().SetDefaultMsg_(code);
    QCOMPARE(QString::fromStdString(lastError()), text);
}

void tst_Engine::connectWalksInOrderAndOpensTheFirstMatch() {
    sim::Bus::addKeyboard();
    sim::Bus::addMouse();
    sim::DeviceModel& first = sim::Bus::addAccessory();
    sim::DeviceModel& second = sim::Bus::addAccessory();
    sim::Bus::addKeyboard();

    QStringList found;
    QtMessageHandler previous = qInstallMessageHandler(nullptr);
    static QStringList* sink;
    sink = &found;
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtWarningMsg && msg.startsWith("Device Found"))
            sink->append(msg);
    });
    const int32 code = connectAccessory();
    qInstallMessageHandler(previous);

    QCOMPARE(code, 0);
    // Two interfaces before the match, the match itself, nothing after it.
    QCOMPARE(found.size(), 3);
    QVERIFY2(found[2].contains(QString::fromStdString(sim::Bus::pathOf(first))),
             qPrintable(found[2]));
    QVERIFY(found[2].startsWith("Device Found\n  type:  2578 65534 \n  path:  "));
    QVERIFY(found[2].contains("\n   Manufacturer:  TAVRIN \n   Product:  "));
    QCOMPARE(sim::Bus::openConnections(), 1);

    // The device in use is the first one: its reset is the one recorded.
    QCOMPARE(hidDfuReset(), 0);
    QCOMPARE(first.resetCount(), 1);
    QCOMPARE(second.resetCount(), 0);
    QCOMPARE(sim::Bus::openConnections(), 0);
}

void tst_Engine::connectFailures_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<bool>("connectFirst");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing plugged in") << Setup([](sim::DeviceModel&) { sim::Bus::reset(); })
                                        << false << "Failed to connect to device";
    QTest::newRow("only a keyboard and a mouse") << Setup([](sim::DeviceModel&) {
        sim::Bus::reset();
        sim::Bus::addKeyboard();
        sim::Bus::addMouse();
    }) << false << "Failed to connect to device";
    QTest::newRow("open refused") << Setup([](sim::DeviceModel& d) {
        sim::Bus::setOpenFails(d, true);
    }) << false << "Failed to connect to device";
    QTest::newRow("already connected")
        << Setup([](sim::DeviceModel&) {}) << true << "Already connected";
    // A lock of another open of the node, as another program holds it; only
    // Linux names the holder.
    QTest::newRow("in use by another program")
        << Setup([](sim::DeviceModel& d) {
               std::string holder;
               lockHeld = heldLock.lock(sim::Bus::pathOf(d).c_str(), holder) ==
                          DeviceLock::Outcome::Locked;
               QVERIFY(lockHeld);
           })
        << false
        << QString("Accessory is in use by another program") +
               (testplatform::isLinux() ? " (tst_engine, process %1)" : "");
}

void tst_Engine::connectFailures() {
    QFETCH(Setup, setup);
    QFETCH(bool, connectFirst);
    QFETCH(QString, text);
    sim::DeviceModel& device = sim::Bus::addAccessory();
    setup(device);
    if (connectFirst)
        QCOMPARE(connectAccessory(), 0);
    QCOMPARE(connectAccessory(), -2);
    QCOMPARE(QString::fromStdString(lastError()), text.arg(QCoreApplication::applicationPid()));
    QCOMPARE(sim::Bus::openConnections(), connectFirst ? 1 : 0);
    if (std::exchange(lockHeld, false)) {
        heldLock.unlock();
        QCOMPARE(connectAccessory(), 0);
    }
}

void tst_Engine::connectReadsTheReportLengthFromTheDescriptor_data() {
    QTest::addColumn<bool>("answersCall");
    QTest::addColumn<bool>("inSysfs");
    QTest::addColumn<int>("length");
    QTest::newRow("hidapi's call, no sysfs (any platform, hidapi 0.14+)") << true << false << 300;
    QTest::newRow("call declined, sysfs (Linux, older hidapi)") << false << true << 300;
    QTest::newRow("neither") << false << false << 0;
}

void tst_Engine::connectReadsTheReportLengthFromTheDescriptor() {
    QFETCH(bool, answersCall);
    QFETCH(bool, inSysfs);
    QFETCH(int, length);
    if (!answersCall && inSysfs && !testplatform::isLinux())
        QSKIP("a Linux row: the descriptor file in sysfs");
    sim::AccessoryConfig config;
    config.featureReportLength = 300;
    config.answersDescriptorCall = answersCall;
    config.descriptorInSysfs = inSysfs;
    sim::Bus::addAccessory(config);
    if (length == 0)
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Cannot read the report descriptor of .*/hidraw0 "
                                                ": (cannot open|not a HID interface)"));
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(int(hidDfuEngine().reportLength()), length);
}

void tst_Engine::connectPathChoosesOneOfSeveral_data() {
    QTest::addColumn<int>("interface"); // 0 keyboard, 1 and 2 accessories, -1 none
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("reportLength"); // of that interface, without connecting
    QTest::newRow("second accessory") << 2 << 0 << 300;
    QTest::newRow("first accessory") << 1 << 0 << 64;
    QTest::newRow("keyboard") << 0 << -2 << 0;
    QTest::newRow("empty path") << -1 << -11 << 0;
}

void tst_Engine::connectPathChoosesOneOfSeveral() {
    QFETCH(int, interface);
    QFETCH(int, code);
    QFETCH(int, reportLength);
    sim::AccessoryConfig config;
    std::vector<std::string> paths{sim::Bus::addKeyboard()};
    std::vector<sim::DeviceModel*> accessories{nullptr, &sim::Bus::addAccessory(config)};
    config.featureReportLength = 300;
    accessories.push_back(&sim::Bus::addAccessory(config));
    paths.push_back(sim::Bus::pathOf(*accessories[1]));
    paths.push_back(sim::Bus::pathOf(*accessories[2]));
    const std::string path = interface < 0 ? std::string() : paths[std::size_t(interface)];

    QCOMPARE(int(hidDfuFeatureReportLength(path.c_str())), reportLength);
    QCOMPARE(hidDfuConnectPath(kVendor, kProduct, path.c_str()), code);
    if (code != 0)
        return;
    QCOMPARE(int(hidDfuEngine().reportLength()), reportLength);
    QCOMPARE(hidDfuReset(), 0);
    QCOMPARE(accessories[std::size_t(interface)]->resetCount(), 1);
}

void tst_Engine::openRefusedNamesTheNodeAndTheRule() {
    sim::DeviceModel& device = sim::Bus::addAccessory();
    sim::Bus::setOpenFails(device, true);
    const QString path = QString::fromStdString(sim::Bus::pathOf(device));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Device Found"));
    // The advice is Linux's.
    QTest::ignoreMessage(
        QtWarningMsg,
        qPrintable("Cannot open " + path + " : Permission denied" +
                   (testplatform::isLinux() ? " - to reach the accessory without root, install "
                                              "the udev rule 70-tavrin-accessory.rules (see README)"
                                            : "")));
    QCOMPARE(connectAccessory(), -2);
    QCOMPARE(lastError(), std::string("Failed to connect to device"));
}

void tst_Engine::disconnectAndReset() {
    sim::DeviceModel& device = sim::Bus::addAccessory();
    hidDfuEngine().SetMsg_(-8, "earlier failure");
    QCOMPARE(hidDfuDisconnect(), 0);
    QCOMPARE(hidDfuReset(), -1);
    QCOMPARE(lastError(), std::string("Invalid sequence (hidDfuConnect must be called first)"));

    hidDfuEngine().SetMsg_(-8, "earlier failure");
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuDisconnect(), 0);
    // success leaves the text alone
    QCOMPARE(lastError(), std::string("earlier failure"));
    QCOMPARE(sim::Bus::openConnections(), 0);

    QCOMPARE(connectAccessory(), 0);
    device.failReport(sim::Direction::HostToDevice, 3);
    QCOMPARE(hidDfuReset(), -9);
    QCOMPARE(lastError(), std::string("Device reset failed"));
    // the device stays open
    QCOMPARE(sim::Bus::openConnections(), 1);

    QCOMPARE(hidDfuReset(), 0);
    QCOMPARE(sim::Bus::openConnections(), 0);
    QCOMPARE(device.resetCount(), 1);
    const Traffic expected{Entry{sim::Direction::HostToDevice, {3, 0xFF}},
                           Entry{sim::Direction::HostToDevice, {3, 0xFF}}};
    QCOMPARE(recorded(device), expected);
    // The device left the bus and came back: a new connect finds it.
    QCOMPARE(connectAccessory(), 0);
}

void tst_Engine::refusedStarts_data() {
    QTest::addColumn<bool>("plugIn");
    QTest::addColumn<bool>("connectFirst");
    QTest::addColumn<Bytes>("descriptor");
    QTest::addColumn<bool>("backup");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const Bytes normal;
    const Bytes noFeatures{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0};
    QTest::newRow("backup, null path")
        << false << false << normal << true << QByteArray() << -11 << "Invalid parameter";
    QTest::newRow("backup, empty path")
        << false << false << normal << true << QByteArray("") << -11 << "Invalid parameter";
    QTest::newRow("upgrade, null path")
        << false << false << normal << false << QByteArray() << -11 << "Invalid parameter";
    QTest::newRow("backup, not connected")
        << true << false << normal << true << QByteArray("x") << -1
        << "Invalid sequence (hidDfuConnect must be called first)";
    QTest::newRow("upgrade, not connected")
        << true << false << normal << false << QByteArray("x") << -1
        << "Invalid sequence (hidDfuConnect must be called first)";
    QTest::newRow("backup, report length 0")
        << true << true << noFeatures << true << QByteArray("x") << -12
        << "Feature report length is invalid (0)";
}

void tst_Engine::refusedStarts() {
    QFETCH(bool, plugIn);
    QFETCH(bool, connectFirst);
    QFETCH(Bytes, descriptor);
    QFETCH(bool, backup);
    QFETCH(QByteArray, path);
    QFETCH(int, code);
    QFETCH(QString, text);
    if (plugIn) {
        sim::AccessoryConfig config;
        if (!descriptor.empty())
            config.descriptorOverride = descriptor;
        sim::Bus::addAccessory(config);
    }
    if (connectFirst)
        QCOMPARE(connectAccessory(), 0);
    const char* arg = path.isNull() ? nullptr : path.constData();
    QCOMPARE(backup ? hidDfuBackup(arg) : hidDfuUpgrade(arg), code);
    QCOMPARE(QString::fromStdString(lastError()), text);
    // no worker was started
    QCOMPARE(int(hidDfuGetProgress()), 100);
}

void tst_Engine::callsWhileRunning() {
    sim::AccessoryConfig config;
    config.reportDelayUs = 5000;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const QString path = writeFile("slow.dfu", dfu::makeDfuFile(dfu::makeImage(58 * 30)));
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);

    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), -14);
    QCOMPARE(lastError(), std::string("Busy, operation in progress"));
    QCOMPARE(hidDfuBackup("other"), -14);
    QCOMPARE(hidDfuDisconnect(), -14);
    QCOMPARE(hidDfuReset(), -14);
    QCOMPARE(connectAccessory(), -2);
    QCOMPARE(lastError(), std::string("Already connected"));
    QCOMPARE(hidDfuGetResult(), -14);
    QCOMPARE(lastError(), std::string("Busy, operation in progress"));
    QVERIFY(hidDfuGetProgress() < 100);

    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    // the refused calls disturbed nothing
    QCOMPARE(device.storedImage(), dfu::makeImage(58 * 30));
    QCOMPARE(device.resetCount(), 0);
}

// The report length is checked before the busy state: a device without a
// usable data report is refused as such even while another operation runs.
void tst_Engine::backupWithoutReportLengthIsRefusedFirst() {
    sim::AccessoryConfig config;
    config.descriptorOverride = Bytes{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0};
    sim::Bus::addAccessory(config);
    QCOMPARE(connectAccessory(), 0);
    // A large file keeps the upgrade busy with its CRC for a while.
    const QString path = m_dir.filePath("large.dfu");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(16 * 1024 * 1024));
        QVERIFY(f.seek(f.size() - 16));
        const Bytes suffix(dfu::makeDfuFile({}));
        f.write(reinterpret_cast<const char*>(suffix.data()), 16);
    }
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QCOMPARE(hidDfuBackup("backup"), -12);
    const bool stillRunning = hidDfuGetProgress() < 100;
    QCOMPARE(lastError(), std::string("Feature report length is invalid (0)"));
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), -6);
    QFile::remove(path);
    if (!stillRunning)
        QSKIP("the upgrade ended before the refused backup could be judged");
}

void tst_Engine::upgradeTraffic_data() {
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

void tst_Engine::upgradeTraffic() {
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

void tst_Engine::upgradeFailures_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<Bytes>("file");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("reports");
    const Bytes good = dfu::makeDfuFile(dfu::makeImage(200));
    Bytes badCrc = good;
    badCrc[3] ^= 1;
    const Setup none = [](sim::DeviceModel&) {};
    QTest::newRow("status 3") << Setup([](sim::DeviceModel& d) { d.overrideStatus(3, {}); }) << good
                              << -8 << "Upgrade failed (DFU status code = 3)" << 1;
    QTest::newRow("state dfuERROR") << Setup([](sim::DeviceModel& d) { d.overrideStatus({}, 10); })
                                    << good << -8 << "Upgrade failed (DFU status code = 0)" << 1;
    QTest::newRow("busy twice") << Setup([](sim::DeviceModel& d) { d.answerBusy(2); }) << good << -8
                                << "Upgrade failed (DFU status code = 0)" << 2;
    QTest::newRow("status 10 stays after clearing")
        << Setup([](sim::DeviceModel& d) { d.overrideStatus(10, {}); }) << good << -16
        << "Device firmware is corrupt" << 3;
    QTest::newRow("clear status refused") << Setup([](sim::DeviceModel& d) {
        d.overrideStatus(10, {});
        d.failReport(sim::Direction::HostToDevice, 3);
    }) << good << -15 << "Failed to clear device status"
                                          << 2;
    QTest::newRow("first status read fails")
        << Setup([](sim::DeviceModel& d) { d.failReport(sim::Direction::DeviceToHost, 2); }) << good
        << -12 << "Failed to get feature information (GetStatus)" << 1;
    QTest::newRow("download report fails")
        << Setup([](sim::DeviceModel& d) { d.failReport(sim::Direction::HostToDevice, 1, 2); })
        << good << -12 << "Failed to write to device" << 4;
    QTest::newRow("end of download fails")
        << Setup([](sim::DeviceModel& d) { d.failReport(sim::Direction::HostToDevice, 1, 5); })
        << good << -12 << "Write to device failed attempting to complete upgrade" << 10;
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
    QTest::newRow("poll timeout of 4.66 hours")
        << Setup([](sim::DeviceModel& d) { d.announcePollTimeout(0xFFFFFF); }) << good << -8
        << "Device asked to wait 16777215 ms; at most 60000 ms is accepted" << 1;
}

void tst_Engine::upgradeFailures() {
    QFETCH(Setup, setup);
    QFETCH(Bytes, file);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(int, reports);
    sim::AccessoryConfig config;
    if (QByteArray(QTest::currentDataTag()) == "report length 6") {
        config.featureReportLength = 6;
        config.descriptorOverride = singleFeatureDescriptor(5);
    }
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
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
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), code);
    QCOMPARE(QString::fromStdString(lastError()), text.replace("%1", path));
    QCOMPARE(int(device.records().size()), reports);
    // nothing is sent after a failure
    QCOMPARE(device.resetCount(), 0);
    // the device stays connected
    QCOMPARE(sim::Bus::openConnections(), 1);
}

void tst_Engine::busyOnceCostsOneSleep() {
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

void tst_Engine::statusTenAtTheStartIsCleared() {
    sim::AccessoryConfig config;
    config.initialStatus = 10;
    config.pollTimeoutMs = 3;
    config.busyMs = 0;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const Bytes file = dfu::makeDfuFile(dfu::makeImage(100));
    const QString path = writeFile("corrupt-at-start.dfu", file);
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    // The recovered condition stays the last text; the code tells success.
    QCOMPARE(lastError(), std::string("Device firmware is corrupt"));

    Traffic expected = healthyUpgrade(64, file, 3);
    expected.insert(expected.begin(), {status(10, 3, kIdle), command(0x04)});
    QCOMPARE(recorded(device), expected);
    QCOMPARE(device.storedImage(), dfu::makeImage(100));
}

void tst_Engine::statusTenLaterEndsTheRun() {
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

void tst_Engine::aFileChangedDuringTheWriteIsNotSent() {
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

void tst_Engine::progressValues_data() {
    QTest::addColumn<bool>("backup");
    QTest::addColumn<uint32_t>("length");
    QTest::addColumn<QList<int>>("progress");
    QTest::newRow("upgrade, N = 2 x 58 + 1") << false << 117u << QList<int>{0, 49, 99};
    QTest::newRow("upgrade, N = 1160, double precision")
        << false << 1160u
        << QList<int>{0, 5, 10, 15, 20, 25, 30, 35, 40, 44, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95};
    QTest::newRow("backup, 100 bytes") << true << 100u << QList<int>{0, 58};
    QTest::newRow("backup, one report") << true << 58u << QList<int>{0};
}

// The worker itself, on a thread of its own, so that every value it reports
// can be seen.
void tst_Engine::progressValues() {
    QFETCH(bool, backup);
    QFETCH(uint32_t, length);
    QFETCH(QList<int>, progress);
    const Bytes image = dfu::makeImage(length);
    sim::AccessoryConfig config;
    config.storedImage = image;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const QString path = backup ? m_dir.filePath("progress.backup")
                                : writeFile("progress.dfu", dfu::makeDfuFile(image));
    hid_device* handle = hid_open_path(sim::Bus::pathOf(device).c_str());
    QVERIFY(handle);

    QThread thread;
    auto* worker = new AsyncWorker(handle, QFile::encodeName(path).toStdString(), 64);
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    QList<int> seen;
    int exit = 1;
    connect(
        worker, &AsyncWorker::progressChanged, worker, [&](uint8 p) { seen.append(p); },
        Qt::DirectConnection);
    connect(
        worker, &AsyncWorker::exitCode, worker, [&](int32 c) { exit = c; }, Qt::DirectConnection);
    thread.start();
    if (backup)
        QMetaObject::invokeMethod(worker, &AsyncWorker::DoBackup, Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(worker, &AsyncWorker::DoUpgrade, Qt::QueuedConnection);
    QVERIFY(thread.wait(20000));
    hid_close(handle);

    QCOMPARE(exit, 0);
    QCOMPARE(seen, progress);
}

void tst_Engine::backupOfAHundredBytes() {
    const Bytes image = dfu::makeImage(100, 9);
    sim::AccessoryConfig config;
    config.storedImage = image;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const QString path = m_dir.filePath("backup.dfu");
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuBackup(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);

    const Traffic t = recorded(device);
    QCOMPARE(int(t.size()), 2);
    Bytes first(64, 0), second(64, 0);
    first[0] = second[0] = 1;
    dfu::putLe16(first.data() + 1, 58);
    dfu::putLe16(second.data() + 1, 42);
    std::copy(image.begin(), image.begin() + 58, first.begin() + 6);
    std::copy(image.begin() + 58, image.end(), second.begin() + 6);
    QCOMPARE(t[0], (Entry{sim::Direction::DeviceToHost, first}));
    QCOMPARE(t[1], (Entry{sim::Direction::DeviceToHost, second}));

    const Bytes written = readFile(path);
    QCOMPARE(written, dfu::makeDfuFile(image));
    QVERIFY(!QFile::exists(path + ".partial"));

    // The backup restores exactly the image it holds.
    device.clearRecords();
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    QCOMPARE(device.receivedImage(), image);
}

void tst_Engine::backupFailuresKeepThePreviousBackup_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<Bytes>("image");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const Bytes image = dfu::makeImage(300, 4);
    QTest::newRow("image length 0") << Setup([](sim::DeviceModel&) {}) << imageDeclaring(100, 0)
                                    << -20 << "Device reports DFU length of zero";
    QTest::newRow("first reply empty")
        << Setup([](sim::DeviceModel& d) { d.setBackupFault(sim::BackupFault::ZeroLength); })
        << image << -20 << "Device reports DFU length of zero";
    QTest::newRow("later reply empty") << Setup([](sim::DeviceModel& d) {
        d.setBackupFault(sim::BackupFault::ZeroLength, 3);
    }) << image << -20 << "Device sent an empty backup block with 184 bytes of the image still due";
    QTest::newRow("reply longer than a report")
        << Setup([](sim::DeviceModel& d) { d.setBackupFault(sim::BackupFault::OverlongLength, 2); })
        << image << -20 << "Device sent a backup block of 65535 bytes; a report holds at most 58";
    QTest::newRow("more bytes than the image holds")
        << Setup([](sim::DeviceModel& d) { d.setBackupFault(sim::BackupFault::BeyondImage); })
        << dfu::makeImage(100) << -20
        << "Device sent 58 bytes with only 42 bytes of the image still due";
    QTest::newRow("read fails") << Setup([](sim::DeviceModel& d) {
        d.failReport(sim::Direction::DeviceToHost, 1, 2);
    }) << image << -12 << "Failed to get feature information (HidReportIdBackup)";
    QTest::newRow("unplugged") << Setup([](sim::DeviceModel& d) { d.unplugAtReport(3); }) << image
                               << -12 << "Failed to get feature information (HidReportIdBackup)";
    QTest::newRow("L 7, length field 5")
        << Setup([](sim::DeviceModel&) {}) << imageDeclaring(14, 5) << -20
        << "Device reports DFU length of 5 bytes, shorter than the 14 bytes that carry it";
}

void tst_Engine::backupFailuresKeepThePreviousBackup() {
    QFETCH(Setup, setup);
    QFETCH(Bytes, image);
    QFETCH(int, code);
    QFETCH(QString, text);
    sim::AccessoryConfig config;
    config.storedImage = image;
    if (QByteArray(QTest::currentDataTag()).startsWith("L 7"))
        config.featureReportLength = 7;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const Bytes previous = dfu::makeDfuFile(dfu::makeImage(77, 1));
    const QString path = writeFile("previous.backup", previous);
    QCOMPARE(connectAccessory(), 0);
    setup(device);
    QCOMPARE(hidDfuBackup(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), code);
    QCOMPARE(QString::fromStdString(lastError()), text);
    QCOMPARE(readFile(path), previous);
    QVERIFY(!QFile::exists(path + ".partial"));
}

// A report too small to carry the image's length field in one reply: the
// length is gathered from as many replies as it takes.
void tst_Engine::backupWithSmallReports_data() {
    QTest::addColumn<int>("L");
    QTest::newRow("L 7") << 7;
    QTest::newRow("L 10") << 10;
    QTest::newRow("L 19") << 19;
    QTest::newRow("L 20") << 20;
}

void tst_Engine::backupWithSmallReports() {
    QFETCH(int, L);
    const Bytes image = dfu::makeImage(101, 2);
    sim::AccessoryConfig config;
    config.featureReportLength = uint16_t(L);
    config.storedImage = image;
    sim::Bus::addAccessory(config);
    const QString path = m_dir.filePath("small.backup");
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuBackup(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    QCOMPARE(readFile(path), dfu::makeDfuFile(image));
}

void tst_Engine::backupToAnUnwritableFolder() {
    sim::DeviceModel& device = sim::Bus::addAccessory();
    const QString path = m_dir.filePath("no such folder/backup.dfu");
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuBackup(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), -3);
    QCOMPARE(QString::fromStdString(lastError()),
             "Failed to open file \"" + path + "\": cannot create a file in folder \"" +
                 m_dir.filePath("no such folder") + "\" (No such file or directory)");
    QVERIFY(device.records().empty());
}

namespace {

// The fault matrix: an upgrade of three blocks and a backup of three replies,
// each report position with each fault that can hit a report of its kind.
enum Fault {
    Fails,
    StopsAnswering,
    Busy,
    BadStatus,
    BadState,
    ShortReply,
    EmptyReply,
    OverlongReply
};
const char* const kFaultNames[] = {"fails",     "stops answering", "busy",        "bad status",
                                   "bad state", "short reply",     "empty reply", "overlong reply"};
// A short status reply carries the report ID alone; a short backup reply
// its header and part of its data.
constexpr std::size_t kShortStatus = 1, kShortBackup = 30;
constexpr uint32_t kMatrixImage = 150; // 58 + 58 + 34 at L 64

// Injects fault at the report `position` (1-based) of traffic.
void injectFault(sim::DeviceModel& device, const Traffic& traffic, int position, int fault) {
    const Entry& at = traffic[std::size_t(position - 1)];
    int ofKind = 0, statusReads = 0;
    for (int i = 0; i < position; ++i) {
        const Entry& e = traffic[std::size_t(i)];
        ofKind += e.direction == at.direction && e.bytes[0] == at.bytes[0];
        statusReads += e.bytes[0] == 2;
    }
    switch (fault) {
    case Fails:
        return device.failReport(at.direction, at.bytes[0], ofKind);
    case StopsAnswering:
        return device.unplugAtReport(position);
    case Busy:
        return device.overrideStatus(0, kDnBusy, statusReads);
    case BadStatus:
        return device.overrideStatus(3, {}, statusReads);
    case BadState:
        return device.overrideStatus({}, kDfuError, statusReads);
    case ShortReply:
        return device.shortenReply(at.bytes[0], at.bytes[0] == 2 ? kShortStatus : kShortBackup,
                                   ofKind);
    case EmptyReply:
        return device.setBackupFault(sim::BackupFault::ZeroLength, position);
    case OverlongReply:
        return device.setBackupFault(sim::BackupFault::OverlongLength, position);
    }
}

} // namespace

void tst_Engine::faultMatrix_data() {
    QTest::addColumn<bool>("backup");
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
                << false << p << fault << (dropped || fault == ShortReply ? -12 : -8)
                << (dropped               ? lost
                    : fault == ShortReply ? QString("Device sent 1 of 7 status bytes")
                                          : QString("Upgrade failed (DFU status code = %1)")
                                                .arg(fault == BadStatus ? 3 : 0));
        }
    }
    for (int p = 1; p <= 3; ++p) {
        const int due = int(kMatrixImage) - 58 * (p - 1);
        const QString empty = p == 1 ? "Device reports DFU length of zero"
                                     : QString("Device sent an empty backup block with %1 bytes "
                                               "of the image still due")
                                           .arg(due);
        const QString lost = "Failed to get feature information (HidReportIdBackup)";
        const QString texts[] = {
            lost, lost,
            QString("Device sent 30 of %1 bytes of a backup block").arg(6 + std::min(due, 58)),
            empty,
            "Device sent a backup block of 65535 bytes; a report holds at "
            "most 58"};
        for (int fault : {Fails, StopsAnswering, ShortReply, EmptyReply, OverlongReply})
            QTest::addRow("backup, report %d %s", p, kFaultNames[fault])
                << true << p << fault
                << (fault <= StopsAnswering || fault == ShortReply ? -12 : -20)
                << texts[fault <= StopsAnswering ? fault : fault - 3];
    }
}

// Every case ends with its code and text in bounded time, sends nothing
// after the failing report, leaves the engine idle and able to connect again,
// and a failed backup leaves the previous one as it was.
void tst_Engine::faultMatrix() {
    QFETCH(bool, backup);
    QFETCH(int, position);
    QFETCH(int, fault);
    QFETCH(int, code);
    QFETCH(QString, text);
    const Bytes image = dfu::makeImage(kMatrixImage, 3);
    sim::AccessoryConfig config;
    config.storedImage = image;
    config.busyMs = 0;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const Bytes previous = dfu::makeDfuFile(dfu::makeImage(77, 1));
    const QString path = backup ? writeFile("matrix.backup", previous)
                                : writeFile("matrix.dfu", dfu::makeDfuFile(image));
    // Only the kind of each report matters to the injection.
    const Traffic healthy = backup ? Traffic(3, Entry{sim::Direction::DeviceToHost, {1}})
                                   : healthyUpgrade(64, dfu::makeDfuFile(image), 0);
    QCOMPARE(connectAccessory(), 0);
    injectFault(device, healthy, position, fault);

    const QByteArray name = QFile::encodeName(path);
    QCOMPARE(backup ? hidDfuBackup(name.constData()) : hidDfuUpgrade(name.constData()), 0);
    QVERIFY(waitUntilIdle(10000));
    QCOMPARE(hidDfuGetResult(), code);
    QCOMPARE(QString::fromStdString(lastError()), text);
    const Traffic t = recorded(device);
    QVERIFY(int(t.size()) >= position);
    for (std::size_t i = std::size_t(position); i < t.size(); ++i)
        QVERIFY2(t[i].direction == sim::Direction::DeviceToHost, qPrintable(describe(t)));
    if (backup) {
        QCOMPARE(readFile(path), previous);
        QVERIFY(!QFile::exists(path + ".partial"));
    }
    QCOMPARE(hidDfuDisconnect(), 0);
    if (!device.present())
        sim::Bus::addAccessory(config);
    QCOMPARE(connectAccessory(), 0);
}

void tst_Engine::operationsInARow() {
    sim::DeviceModel& device = sim::Bus::addAccessory();
    QCOMPARE(connectAccessory(), 0);
    // Fails at once, before any report.
    const QString missing = m_dir.filePath("missing-1.dfu");
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(missing).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), -3);
    QCOMPARE(QString::fromStdString(lastError()), "Failed to open file \"" + missing + "\"");
    // no status is read without a file
    QVERIFY(device.records().empty());

    // The next start gets a new worker with its own file name.
    const QString missing2 = m_dir.filePath("missing-2.dfu");
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(missing2).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(QString::fromStdString(lastError()), "Failed to open file \"" + missing2 + "\"");

    // Success after failure replaces the stored exit code.
    const QString good = writeFile("good.dfu", dfu::makeDfuFile(dfu::makeImage(100)));
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(good).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    QCOMPARE(device.receivedImage(), dfu::makeImage(100));
}

void tst_Engine::progressIsCappedAndNeverMeansFinishedWhileRunning() {
    CHidDfuEngine& engine = hidDfuEngine();
    engine.SetProgress_(150);
    QCOMPARE(int(engine.lastProgress()), 100);
    engine.SetProgress_(99);
    QCOMPARE(int(engine.lastProgress()), 99);
    engine.SetProgress_(100);
    // idle
    QCOMPARE(int(hidDfuGetProgress()), 100);

    // A new operation starts from 0, not from the last value of the previous one.
    sim::AccessoryConfig config;
    config.reportDelayUs = 5000;
    sim::Bus::addAccessory(config);
    const QString path = writeFile("capped.dfu", dfu::makeDfuFile(dfu::makeImage(58 * 10)));
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QVERIFY(hidDfuGetProgress() < 100);
    engine.SetProgress_(150);
    // 100 only ever means that nothing runs
    QVERIFY(hidDfuGetProgress() < 100);
    QVERIFY(waitUntilIdle());
}

// Many short operations while another thread polls like the progress relay:
// whenever it sees 100, the result and the text must be those of the
// operation that has just ended, with nothing run on this thread in between.
void tst_Engine::resultAndTextAreFreshOnceProgressSays100() {
    sim::AccessoryConfig config;
    config.pollTimeoutMs = 0;
    sim::Bus::addAccessory(config);
    QCOMPARE(connectAccessory(), 0);
    const QString good = writeFile("stress.dfu", dfu::makeDfuFile(dfu::makeImage(30)));

    constexpr int kOperations = 300;
    std::atomic<int> starting{0}, started{0};
    std::atomic<bool> done{false};
    std::atomic<int> checked{0};
    QStringList problems;

    auto expectedFor = [&](int op) {
        return op % 3 == 2
                   ? std::make_pair(0, QString())
                   : std::make_pair(-3, "Failed to open file \"" +
                                            m_dir.filePath(QString("gone-%1").arg(op)) + "\"");
    };

    std::thread poller([&] {
        while (!done.load()) {
            const int s1 = starting.load(), e1 = started.load();
            if (hidDfuGetProgress() != 100)
                continue;
            const int32 result = hidDfuGetResult();
            const QString text = QString::fromUtf8(hidDfuGetLastError());
            const int s2 = starting.load(), e2 = started.load();
            if (s1 != e1 || s2 != s1 || e2 != e1 || e1 == 0)
                continue; // an operation started in between: nothing to judge
            const auto expected = expectedFor(e1);
            if (result != expected.first || (expected.first != 0 && text != expected.second))
                problems.append(QString("op %1: result %2, text %3").arg(e1).arg(result).arg(text));
            ++checked;
        }
    });

    for (int op = 1; op <= kOperations; ++op) {
        const QString path = op % 3 == 2 ? good : m_dir.filePath(QString("gone-%1").arg(op));
        starting = op;
        if (hidDfuUpgrade(QFile::encodeName(path).constData()) != 0) {
            problems.append(QString("op %1 did not start").arg(op));
            break;
        }
        started = op;
        // This thread runs no events while it waits, like a GUI thread blocked
        // in a destructor.
        while (hidDfuGetProgress() != 100)
            std::this_thread::yield();
    }
    done = true;
    poller.join();
    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 5).join('\n')));
    QVERIFY(checked.load() > 0);
}

void tst_Engine::destroyingAnEngineWhileItRunsWaitsForTheTransfer() {
    sim::AccessoryConfig config;
    config.reportDelayUs = 2000;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const Bytes image = dfu::makeImage(58 * 20);
    const QString path = writeFile("teardown.dfu", dfu::makeDfuFile(image));
    {
        CHidDfuEngine engine;
        QCOMPARE(engine.Connect(kVendor, kProduct, 0, 0), 0);
        QCOMPARE(engine.Upgrade(QFile::encodeName(path).constData()), 0);
        QVERIFY(engine.isRunning());
    }
    // The transfer ran to its end and only then was the device closed.
    QCOMPARE(device.storedImage(), image);
    QCOMPARE(sim::Bus::openConnections(), 0);
}

QTEST_GUILESS_MAIN(tst_Engine)
#include "tst_engine.moc"
