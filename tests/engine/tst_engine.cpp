// The engine's call interface and its state, against the simulated
// accessory: the error table, connect, disconnect and reset, and the starts
// it refuses. The program keeps its name: a connect to a node that another
// open holds locked names the holder, this very program, in its text.

#include "chiddfuengine.h"
#include "devicelock.h"
#include "enginetest.h"
#include "testplatform.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <utility>

using namespace enginetest;
using namespace traffic;

namespace {

DeviceLock heldLock; // a lock on the accessory's node that a test holds
bool lockHeld = false;

} // namespace

class tst_Engine : public EngineTest {
    Q_OBJECT

private slots:
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
};

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
    QTest::addColumn<int>("cause");
    QTest::addColumn<QString>("reason");
    using Cause = HidDfuConnectFailure;
    QTest::newRow("nothing plugged in")
        << Setup([](sim::DeviceModel&) { sim::Bus::reset(); }) << false
        << "Failed to connect to device" << int(Cause::NoDevice) << "";
    QTest::newRow("only a keyboard and a mouse") << Setup([](sim::DeviceModel&) {
        sim::Bus::reset();
        sim::Bus::addKeyboard();
        sim::Bus::addMouse();
    }) << false << "Failed to connect to device" << int(Cause::NoDevice)
                                                 << "";
    QTest::newRow("open refused") << Setup([](sim::DeviceModel& d) {
        sim::Bus::setOpenFails(d, true);
    }) << false << "Failed to connect to device"
                                  << int(Cause::CannotOpen) << "Permission denied";
    QTest::newRow("already connected") << Setup([](sim::DeviceModel&) {}) << true
                                       << "Already connected" << int(Cause::AlreadyConnected) << "";
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
               (testplatform::isLinux() ? " (tst_engine, process %1)" : "")
        << int(Cause::InUse) << "";
}

void tst_Engine::connectFailures() {
    QFETCH(Setup, setup);
    QFETCH(bool, connectFirst);
    QFETCH(QString, text);
    QFETCH(int, cause);
    QFETCH(QString, reason);
    sim::DeviceModel& device = sim::Bus::addAccessory();
    setup(device);
    if (connectFirst)
        QCOMPARE(connectAccessory(), 0);
    QCOMPARE(connectAccessory(), -2);
    QCOMPARE(QString::fromStdString(lastError()), text.arg(QCoreApplication::applicationPid()));
    const char* systemReason = nullptr;
    QCOMPARE(hidDfuGetConnectFailure(&systemReason), cause);
    QCOMPARE(QString::fromLocal8Bit(systemReason), reason);
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

QTEST_GUILESS_MAIN(tst_Engine)
#include "tst_engine.moc"
