// The controller against the process's engine and the simulated accessory:
// its engine calls, its log lines (compared byte for byte, with their type),
// restart and release after a result, and its destruction during a transfer.
#include "appfolder.h"
#include "controllerlog.h"
#include "controllertest.h"
#include "demoaccessory.h"
#include "enginesupport.h"
#include "installator.h"
#include "logcapture.h"
#include "startup.h"
#include "testplatform.h"

#include <QStandardPaths>
#include <QtTest>

using namespace enginesupport;

namespace {

QString notConnectedText() {
    return QStringLiteral("Invalid sequence (hidDfuConnect must be called first)");
}

} // namespace

class tst_installator : public ControllerTest {
    Q_OBJECT

public:
    tst_installator() : ControllerTest({{"dfuUpdateUrl", kFirmwareName}}) {}

private slots:
    void connectWithoutAccessory();
    void connectTwice();
    void upgradeWithoutFirmwareKey();
    void startsWhileBusy();
    void restartAndDisconnectAfterSuccess_data();
    void restartAndDisconnectAfterSuccess();
    void restartAndDisconnectAfterFailure_data();
    void restartAndDisconnectAfterFailure();
    void upgradeEndToEnd();
    void upgradeFromNonAsciiFolder();
    void backupReplacesEarlierFile();
    void destroyDuringUpgrade();

private:
    // Lines of the GUI thread, and of the other threads (the relay's), both
    // without the engine's own lines; the relay's without progress lines.
    QStringList guiLines() const;
    static QString backupPath();
    QStringList relayLines() const;
    void writeFiles(const QString& firmwareName, const Bytes& firmware);
};

QStringList tst_installator::guiLines() const {
    QThread* const gui = m_guiThread;
    // Without a system bus the session says once per upgrade that nothing
    // holds off shutdown; that line is the session's, not the controller's.
    return m_log.texts([gui](const LogLine& line) {
        return line.thread == gui && !isEngineLine(line) &&
               !line.text.startsWith(QLatin1String("Shutdown and sleep are not held off"));
    });
}

QStringList tst_installator::relayLines() const {
    QThread* const gui = m_guiThread;
    return m_log.texts([gui](const LogLine& line) {
        return line.thread != gui && !isEngineLine(line) && !isProgressLine(line);
    });
}

QString tst_installator::backupPath() {
    // The per-user data folder is named after the executable, inside the
    // test's XDG_DATA_HOME (Linux) or the roaming application data (Windows).
    const QString data = testplatform::isLinux()
                             ? qEnvironmentVariable("XDG_DATA_HOME")
                             : QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    return data + "/" + QCoreApplication::applicationName() + "/tavrinFirmware.backup";
}

void tst_installator::writeFiles(const QString& firmwareName, const Bytes& firmware) {
    QVERIFY(appfolder::writeTextCopy({{"dfuUpdateUrl", firmwareName}}));
    QVERIFY(appfolder::write(firmwareName, toQByteArray(firmware)));
}

void tst_installator::connectWithoutAccessory() {
    sim::Bus::addKeyboard();
    installator controller;
    m_log.clear();

    QCOMPARE(controller.connect(), -2);
    QCOMPARE(guiLines(), QStringList{warning(QStringLiteral("Connection error  -2"))});
    QCOMPARE(controller.getLastError(), QStringLiteral("Failed to connect to device"));
}

void tst_installator::connectTwice() {
    sim::DeviceModel& device = sim::Bus::addAccessory();
    installator controller;
    m_log.clear();

    QCOMPARE(controller.connect(), 0);
    QCOMPARE(controller.connect(), -2);
    QCOMPARE(guiLines(), (QStringList{info(QStringLiteral("Connection established")),
                                      warning(QStringLiteral("Connection error  -2"))}));
    QCOMPARE(controller.getLastError(), QStringLiteral("Already connected"));
    // The first connection is untouched.
    QCOMPARE(sim::Bus::openConnections(), 1);
    QVERIFY(device.records().empty());
}

void tst_installator::upgradeWithoutFirmwareKey() {
    QVERIFY(appfolder::writeTextCopy({{"applicationTitle", "Update"}}));
    appfolder::remove("dfuUpdateUrl");
    sim::DeviceModel& device = sim::Bus::addAccessory();
    installator controller;
    QSignalSpy results(&controller, &installator::resultReady);
    QVERIFY(controller.connect() == 0);
    m_log.clear();

    // The key stands in for the missing name; the engine is asked all the
    // same and finds no file.
    QCOMPARE(controller.upgrade(), 0);
    QTRY_COMPARE(results.count(), 1);
    QCOMPARE(results.at(0).at(0).toInt(), -3);

    QCOMPARE(
        guiLines(),
        (QStringList{
            warning(QStringLiteral("Value under key \" \"dfuUpdateUrl\" \" is not a string, it "
                                   "is  0")),
            firmwareLine(false, "dfuUpdateUrl"),
            info(QStringLiteral("Status after progress:  -3")),
            info(QStringLiteral("Error:  -3")),
            info(QStringLiteral("Disconnected successfuly")),
        }));
    QCOMPARE(relayLines(), QStringList{info(QStringLiteral("Upgrade status:  -3"))});
    // After a failure the device is released, so that a retry can connect,
    // and not restarted.
    QCOMPARE(sim::Bus::openConnections(), 0);
    QVERIFY(sentReports(device).empty());
}

void tst_installator::startsWhileBusy() {
    const Bytes firmware = firmwareFile(kSlowImageLength);
    writeFiles(kFirmwareName, firmware);
    sim::DeviceModel& device = sim::Bus::addAccessory(slowAccessory());
    installator controller;
    QSignalSpy progress(&controller, &installator::progressChanged);
    QSignalSpy results(&controller, &installator::resultReady);
    QCOMPARE(controller.connect(), 0);
    m_log.clear();

    QCOMPARE(controller.upgrade(), 0);
    // A progress value proves the transfer runs.
    QTRY_VERIFY(progress.count() > 0);
    QCOMPARE(controller.upgrade(), -14);
    QCOMPARE(controller.backup(), -14);
    QCOMPARE(controller.getLastError(), QStringLiteral("Busy, operation in progress"));

    // One result per call: the first when the transfer has ended, the other
    // two at once after it, with what the engine then answers.
    QTRY_COMPARE_WITH_TIMEOUT(results.count(), 3, 60000);
    for (const QList<QVariant>& result : results)
        QCOMPARE(result.at(0).toInt(), 0);
    QCOMPARE(device.receivedImage(), dfu::makeImage(kSlowImageLength));

    const QString backupPath = tst_installator::backupPath();
    QStringList expected{firmwareLine(true, kFirmwareName), firmwareLine(true, kFirmwareName),
                         info(QStringLiteral("Save firmware backup to  \"%1\"").arg(backupPath)),
                         info(QStringLiteral("c style ") + backupPath)};
    expected << restartLines(0) << restartLines(-1, notConnectedText())
             << restartLines(-1, notConnectedText());
    QCOMPARE(guiLines(), expected);
    const QString status = info(QStringLiteral("Upgrade status:  0"));
    QCOMPARE(relayLines(), (QStringList{status, status, status}));
    // The refused starts sent nothing: one transfer, one restart request.
    QCOMPARE(device.resetCount(), 1);
}

void tst_installator::restartAndDisconnectAfterSuccess_data() {
    QTest::addColumn<bool>("accessory");
    QTest::addColumn<bool>("resetFails");
    QTest::addColumn<QStringList>("expectedLines");
    QTest::addColumn<QString>("lastError");

    // A null text: the last error stays as it was.
    QTest::newRow("device restarts") << true << false << restartLines(0) << QString();
    QTest::newRow("restart request fails")
        << true << true << restartLines(-9, "Device reset failed") << "Device reset failed";
    QTest::newRow("no device open")
        << false << false << restartLines(-1, notConnectedText()) << notConnectedText();
}

void tst_installator::restartAndDisconnectAfterSuccess() {
    QFETCH(bool, accessory);
    QFETCH(bool, resetFails);
    QFETCH(QStringList, expectedLines);
    QFETCH(QString, lastError);

    sim::DeviceModel& device = sim::Bus::addAccessory();
    installator controller;
    if (accessory)
        QCOMPARE(controller.connect(), 0);
    if (resetFails)
        device.failReport(sim::Direction::HostToDevice, kCommandReportId);
    const QString errorBefore = controller.getLastError();
    m_log.clear();

    controller.restartAndDisconnect(0);

    QCOMPARE(guiLines(), expectedLines);
    QCOMPARE(controller.getLastError(), lastError.isNull() ? errorBefore : lastError);
    // Released also when the restart request failed.
    QCOMPARE(sim::Bus::openConnections(), 0);
    const std::vector<Bytes> expectedReports =
        accessory ? std::vector<Bytes>{{kCommandReportId, kResetCommand}} : std::vector<Bytes>{};
    QCOMPARE(sentReports(device), expectedReports);
    QCOMPARE(device.resetCount(), accessory && !resetFails ? 1 : 0);
}

void tst_installator::restartAndDisconnectAfterFailure_data() {
    QTest::addColumn<bool>("otherOperationRuns");
    QTest::newRow("device released") << false;
    // A refused start's result: the running transfer keeps its device.
    QTest::newRow("another operation runs") << true;
}

void tst_installator::restartAndDisconnectAfterFailure() {
    QFETCH(bool, otherOperationRuns);
    writeFiles(kFirmwareName, firmwareFile(kSlowImageLength));
    sim::DeviceModel& device = sim::Bus::addAccessory(slowAccessory());
    installator controller;
    QSignalSpy progress(&controller, &installator::progressChanged);
    QCOMPARE(controller.connect(), 0);
    if (otherOperationRuns) {
        QCOMPARE(controller.upgrade(), 0);
        QTRY_VERIFY(!progress.isEmpty());
    }
    const QString errorBefore = controller.getLastError();
    m_log.clear();

    controller.restartAndDisconnect(-8);

    QStringList expected{info(QStringLiteral("Status after progress:  -8")),
                         info(QStringLiteral("Error:  -8"))};
    if (!otherOperationRuns)
        expected << info(QStringLiteral("Disconnected successfuly"));
    QCOMPARE(guiLines(), expected);
    QCOMPARE(controller.getLastError(), errorBefore);
    QCOMPARE(sim::Bus::openConnections(), otherOperationRuns ? 1 : 0);
    // Never restarted.
    QCOMPARE(device.resetCount(), 0);
    if (!otherOperationRuns)
        QVERIFY(device.records().empty());
}

void tst_installator::upgradeEndToEnd() {
    // The demo program's accessory, with a shorter image than its firmware.
    constexpr uint32_t kImageLength = 8 * 1024 + 3;
    const Bytes firmware = firmwareFile(kImageLength, 5);
    writeFiles(kFirmwareName, firmware);
    sim::DeviceModel& device = sim::Bus::addAccessory(demo::accessoryConfig());
    installator controller;
    QSignalSpy progress(&controller, &installator::progressChanged);
    QSignalSpy results(&controller, &installator::resultReady);
    m_log.clear();

    QCOMPARE(controller.connect(), 0);
    QCOMPARE(controller.upgrade(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 60000);
    QCOMPARE(results.at(0).at(0).toInt(), 0);

    QVERIFY(progress.count() > 0);
    int previous = 0;
    for (const QList<QVariant>& value : progress) {
        QVERIFY(value.at(0).toInt() >= previous);
        QVERIFY(value.at(0).toInt() < 100);
        previous = value.at(0).toInt();
    }

    QStringList expected{info(QStringLiteral("Connection established")),
                         firmwareLine(true, kFirmwareName)};
    expected << restartLines(0);
    QCOMPARE(guiLines(), expected);
    QCOMPARE(relayLines(), QStringList{info(QStringLiteral("Upgrade status:  0"))});

    QCOMPARE(device.receivedImage(), dfu::makeImage(kImageLength, 5));
    QCOMPARE(sentReports(device),
             upgradeAndResetReports(firmware, demo::kFeatureReportLength, kImageLength));
    QCOMPARE(device.resetCount(), 1);
    QCOMPARE(sim::Bus::openConnections(), 0);
}

void tst_installator::upgradeFromNonAsciiFolder() {
    // Only the file system's own encoding names this file; Latin-1 bytes
    // would name another one.
    const QString name = QString::fromUtf8("Prüfung Ωmega/firmware.dfu");
    constexpr uint32_t kImageLength = 300;
    const Bytes firmware = firmwareFile(kImageLength, 9);
    writeFiles(name, firmware);
    sim::DeviceModel& device = sim::Bus::addAccessory();
    installator controller;
    QSignalSpy results(&controller, &installator::resultReady);
    QCOMPARE(controller.connect(), 0);
    m_log.clear();

    QCOMPARE(controller.upgrade(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 60000);
    QCOMPARE(results.at(0).at(0).toInt(), 0);
    QCOMPARE(device.receivedImage(), dfu::makeImage(kImageLength, 9));

    QStringList expected{firmwareLine(true, name)};
    expected << restartLines(0);
    QCOMPARE(guiLines(), expected);
    QVERIFY(QDir(appfolder::path(QString::fromUtf8("Prüfung Ωmega"))).removeRecursively());
}

void tst_installator::backupReplacesEarlierFile() {
    constexpr uint32_t kStoredLength = 1000;
    sim::AccessoryConfig config;
    config.storedImage = dfu::makeImage(kStoredLength, 3);
    sim::Bus::addAccessory(config);
    // Longer than the backup, so a file that was appended to or only
    // partly overwritten would show.
    QDir().mkpath(QFileInfo(backupPath()).absolutePath());
    {
        QFile earlier(backupPath());
        QVERIFY(earlier.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(earlier.write(QByteArray(4 * int(kStoredLength), 'x')) > 0);
    }
    installator controller;
    QSignalSpy results(&controller, &installator::resultReady);
    m_log.clear();

    QCOMPARE(controller.connect(), 0);
    QCOMPARE(controller.backup(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 60000);
    QCOMPARE(results.at(0).at(0).toInt(), 0);

    QFile backup(backupPath());
    QVERIFY(backup.open(QIODevice::ReadOnly));
    QCOMPARE(backup.readAll(), toQByteArray(dfu::makeDfuFile(config.storedImage)));
    QStringList expected{info(QStringLiteral("Connection established")),
                         info(QStringLiteral("Save firmware backup to  \"%1\"").arg(backupPath())),
                         info(QStringLiteral("c style ") + backupPath())};
    expected << restartLines(0);
    QCOMPARE(guiLines(), expected);
    QCOMPARE(relayLines(), QStringList{info(QStringLiteral("Upgrade status:  0"))});
}

void tst_installator::destroyDuringUpgrade() {
    const Bytes firmware = firmwareFile(kSlowImageLength);
    writeFiles(kFirmwareName, firmware);
    sim::DeviceModel& device = sim::Bus::addAccessory(slowAccessory());
    auto* controller = new installator;
    QObject listener;
    bool destroying = false;
    int resultsDuringOrAfter = 0;
    bool progressSeen = false;
    connect(controller, &installator::progressChanged, &listener, [&] { progressSeen = true; });
    connect(controller, &installator::resultReady, &listener, [&] {
        if (destroying)
            ++resultsDuringOrAfter;
    });
    QCOMPARE(controller->connect(), 0);
    QCOMPARE(controller->upgrade(), 0);
    QTRY_VERIFY(progressSeen);
    QCOMPARE(int(hidDfuGetProgress()) < int(kHidDfuNothingRunning), true);
    m_log.clear();

    // Returns once the transfer has ended: the relay's run cannot be cut
    // short.
    destroying = true;
    delete controller;
    QCOMPARE(int(hidDfuGetProgress()), int(kHidDfuNothingRunning));
    QCOMPARE(hidDfuGetResult(), 0);
    QCOMPARE(device.receivedImage(), dfu::makeImage(kSlowImageLength));

    // Whatever was queued for the controller is gone with it.
    QTest::qWait(300);
    QCOMPARE(resultsDuringOrAfter, 0);
    // The run still ended with its own line, but no result reached the
    // controller: the device is neither restarted nor released.
    QCOMPARE(relayLines(), QStringList{info(QStringLiteral("Upgrade status:  0"))});
    QCOMPARE(guiLines(), QStringList());
    QCOMPARE(device.resetCount(), 0);
    QCOMPARE(sim::Bus::openConnections(), 1);
}

QTEST_GUILESS_MAIN(tst_installator)
#include "tst_installator.moc"
