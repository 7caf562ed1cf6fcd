// What the controller knows before anything is written: whether the firmware
// file beside the program can be installed and which version it holds, and
// whether an accessory is attached and which version it runs; and what it
// hands a person to send after a failure: the details and the log file.
#include "appfolder.h"
#include "demoaccessory.h"
#include "enginesupport.h"
#include "installator.h"
#include "logcapture.h"
#include "logfile.h"
#include "testplatform.h"

#include <QDir>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <vector>

using namespace enginesupport;

namespace {
const char kFirmwareName[] = "firmware.dfu";
} // namespace

class tst_readiness : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_log.install(); }
    void init() {
        sim::Bus::reset();
        m_log.clear();
    }
    void cleanup() { appfolder::remove(kFirmwareName); }

    void firmwareFileCheckedAtStart_data();
    void firmwareFileCheckedAtStart();
    void accessoryWatchedWithItsVersion();
    void logFileForSupport_data();
    void logFileForSupport();
    void logFileOfEachRun_data();
    void logFileOfEachRun();

private:
    LogCapture m_log;
};

void tst_readiness::firmwareFileCheckedAtStart_data() {
    QTest::addColumn<Bytes>("file"); // empty: no file
    QTest::addColumn<QString>("versionKey");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("version");
    const Bytes good = firmwareFile(100);
    Bytes stated = good, damaged = good;
    dfu::putLe16(stated.data() + stated.size() - dfu::kSuffixLength + dfu::kSuffixBcdDevice,
                 0x0251);
    dfu::putLe32(stated.data() + stated.size() - 4,
                 dfu::Crc32().update(stated.data(), stated.size() - 4));
    damaged[3] ^= 1;
    QTest::newRow("the text copy states it") << good << "2.4.0" << 0 << "2.4.0";
    QTest::newRow("a backup's suffix states none") << good << "" << 0 << "";
    QTest::newRow("the suffix states 2.5.1") << stated << "" << 0 << "2.5.1";
    QTest::newRow("damaged") << damaged << "" << -6 << "";
    QTest::newRow("missing") << Bytes() << "" << -3 << "";
}

// Found on the first page, before any device traffic.
void tst_readiness::firmwareFileCheckedAtStart() {
    QFETCH(Bytes, file);
    QFETCH(QString, versionKey);
    QFETCH(int, code);
    QFETCH(QString, version);
    QJsonObject copy{{"dfuUpdateUrl", kFirmwareName}};
    if (!versionKey.isEmpty())
        copy.insert("firmwareVersion", versionKey);
    QVERIFY(appfolder::writeTextCopy(copy));
    if (!file.empty())
        QVERIFY(appfolder::write(kFirmwareName, toQByteArray(file)));
    installator controller;
    QCOMPARE(controller.firmwareFileCode(), code);
    QCOMPARE(controller.firmwareFileProblem().isEmpty(), code == 0);
    QCOMPARE(controller.fileVersion(), version);
}

void tst_readiness::accessoryWatchedWithItsVersion() {
    installator controller;
    QSignalSpy changes(&controller, &installator::accessoryChanged);
    controller.watchAccessory(true);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.at(0), (QVariantList{0, QString()}));
    sim::Bus::addAccessory(demo::accessoryConfig());
    QTRY_COMPARE(changes.count(), 2);
    QCOMPARE(changes.at(1), (QVariantList{1, QStringLiteral("2.3.0")}));
    controller.watchAccessory(false);
    QCOMPARE(installator::compareVersions("2.3.0", "2.4.0"), 1);
    QCOMPARE(installator::compareVersions("2.4.0", "2.4.0"), 0);
    QCOMPARE(installator::compareVersions("2.10.0", "2.4.0"), -1);
    QCOMPARE(installator::compareVersions("", "2.4.0"), 2);
}

void tst_readiness::logFileForSupport_data() {
    QTest::addColumn<int>("earlierRuns");
    QTest::addColumn<int>("bound");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("accessory");
    QTest::newRow("the last five runs kept") << 7 << int(LogFile::kMaxBytes) << true << true;
    QTest::newRow("bounded, the end kept") << 0 << 700 << true << true;
    QTest::newRow("a folder that cannot be made") << 0 << int(LogFile::kMaxBytes) << false << true;
    QTest::newRow("no accessory found") << 0 << int(LogFile::kMaxBytes) << true << false;
}

// The details open with what support asks first and end with the log's last
// lines, also without a file. The file, and those lines, hold progress once
// per tenth, UTC times, control characters escaped, and no serial number of
// a device other than the accessory; the message log keeps every line.
void tst_readiness::logFileForSupport() {
    QFETCH(int, earlierRuns);
    QFETCH(int, bound);
    QFETCH(bool, writable);
    QFETCH(bool, accessory);
    const QString folder = appfolder::path("logs");
    QFile::remove(folder);
    QDir(folder).removeRecursively();
    QVERIFY(writable || appfolder::write("logs", "a file where the folder would be"));
    for (int run = 0; run < earlierRuns; ++run)
        QVERIFY(appfolder::write(QStringLiteral("logs/installator-2020010%1-000000-1.log").arg(run),
                                 "an earlier run\n"));
    QVERIFY(
        appfolder::writeTextCopy({{"dfuUpdateUrl", kFirmwareName}, {"firmwareVersion", "2.4.0"}}));
    const Bytes firmware = firmwareFile(100);
    QVERIFY(appfolder::write(kFirmwareName, toQByteArray(firmware)));
    if (accessory)
        sim::Bus::addAccessory(demo::accessoryConfig());
    LogFile log(folder, bound);
    installator controller;
    controller.watchAccessory(true);
    controller.watchAccessory(false);
    for (int percent : {0, 1, 9, 10, 10, 55, 99})
        qInfo() << "\r" << percent << "% completed";
    for (int percent : {3, 12})
        QMessageLogger(nullptr, 0, nullptr, "qml").debug("progress %d%%", percent);
    qWarning() << "Device Found\n  type: " << 1133 << 49271 << "\n  serial_number: "
               << "KBD-77\x1b[2J";
    qWarning() << "Device Found\n  type: " << kHidDfuVendorId << kHidDfuProductId
               << "\n  serial_number: "
               << "SIM-0001"
               << "\n   Product: "
               << "TAVRIN\x1b]0;x\a";
    for (int line = 0; line < 30; ++line)
        qInfo("line %d", line);
    const QString details = controller.errorDetails(-8, {"Upgrade failed\nError -8", "Advice"});
    const QString crc = QString::number(dfu::le32(firmware.data() + firmware.size() - 4), 16);
    const QRegularExpression header(
        "^" + QRegularExpression::escape(QCoreApplication::applicationName()) +
        " [^\n]+: error -8\nCode: -8, [^\n]+\n" +
        (accessory ? "Accessory: serial SIM-0001, firmware 2\\.3\\.0\n"
                   : "Accessory: no accessory found\n") +
        "Firmware file: firmware\\.dfu, 116 bytes, CRC 0x0*" + crc +
        ", states no version\nLast write: none started\n"
        "Time: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\nLanguage: en\n"
        "Upgrade failed\nError -8\nAdvice\nFirmware in this program: 2\\.4\\.0\n"
        "Firmware file check: code 0\nSystem: ");
    QVERIFY2(header.match(details).hasMatch() && details.endsWith(" info line 29"),
             qPrintable(details));
    const QStringList kept = log.tail();
    QVERIFY2(kept.filter(QRegularExpression(" info \\d+ % completed$")).size() == 4 &&
                 kept.filter("progress").isEmpty() && kept.filter("KBD-77").isEmpty() &&
                 kept.filter("\x1b").isEmpty() && !kept.filter("SIM-0001").isEmpty() &&
                 !kept.filter("TAVRIN\\x1b]0;x\\x07").isEmpty() &&
                 kept.filter(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT[\\d:.]+Z ")).size() ==
                     kept.size(),
             qPrintable(kept.join('\n')));
    QCOMPARE(m_log.texts([](const LogLine& l) { return l.text.contains("% completed"); }).size(),
             7);
    QVERIFY(!m_log.texts([](const LogLine& l) { return l.text.contains("KBD-77\x1b"); }).isEmpty());
    // Nothing is lost to standard error, with a file or without.
    QCOMPARE(m_log.texts([](const LogLine& l) { return l.text.startsWith("line "); }).size(), 30);
    QCOMPARE(m_log.texts([](const LogLine& l) { return l.text.startsWith("No log file"); }).size(),
             writable ? 0 : 1);
    QCOMPARE(log.path().isEmpty(), !writable);
    if (!writable)
        return;
    QFile file(log.path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY(written.size() <= bound && written.endsWith(" info line 29\n"));
    QCOMPARE(written.contains("Earlier lines of this run were dropped"), bound < 1000);
    const QStringList runs = QDir(folder).entryList({"installator-*.log"});
    QCOMPARE(runs.size(), std::min(earlierRuns + 1, LogFile::kKeptFiles));
    QVERIFY(runs.contains(QFileInfo(log.path()).fileName()));
}

void tst_readiness::logFileOfEachRun_data() {
    QTest::addColumn<QString>("planted");
    QTest::addColumn<int>("wizards");
    QTest::newRow("a FIFO at the run's names") << "fifo" << 1;
    QTest::newRow("a link at the run's names") << "link" << 1;
    QTest::newRow("five later-named runs") << "later" << 1;
    QTest::newRow("seven wizards started together") << "" << 7;
    QTest::newRow("a full disk mid-run") << "full" << 1;
}

// Each run writes a new file of its own, whatever stands in the folder, and
// no run's rotation removes a running run's file.
void tst_readiness::logFileOfEachRun() {
    QFETCH(QString, planted);
    QFETCH(int, wizards);
    if ((planted == "fifo" || planted == "link" || planted == "full") && !testplatform::isLinux())
        QSKIP("FIFOs, links and file size limits are Linux rows");
    const QString folder = appfolder::path("logs");
    QFile::remove(folder);
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder));
    const QByteArray victimBytes = "the person's own file\n";
    QVERIFY(appfolder::write("victim.txt", victimBytes));
    // The run's names in this second and the next two.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int second = 0; second < 3 && (planted == "fifo" || planted == "link"); ++second) {
        const std::string name = QStringLiteral("%1/installator-%2-%3.log")
                                     .arg(folder, now.addSecs(second).toString("yyyyMMdd-HHmmss"))
                                     .arg(QCoreApplication::applicationPid())
                                     .toStdString();
        if (planted == "fifo")
            QVERIFY(!testplatform::makeFifo(name).empty());
        else if (planted == "link")
            QVERIFY(testplatform::makeLink(appfolder::path("victim.txt").toStdString(), name));
    }
    for (int run = 0; run < 5 && planted == "later"; ++run)
        QVERIFY(appfolder::write(QStringLiteral("logs/installator-2099010%1-000000-1.log").arg(run),
                                 "a later run\n"));

    std::vector<std::unique_ptr<LogFile>> runs;
    for (int run = 0; run < wizards; ++run)
        runs.push_back(std::make_unique<LogFile>(folder));
    qInfo("a line of the run");
    if (planted == "full") {
        // The system's reason, not "Unknown error".
        QVERIFY(testplatform::limitFileSize(QFileInfo(runs.back()->path()).size() + 10));
        qInfo("a line the disk has no room for");
        QVERIFY(testplatform::limitFileSize(-1));
        QCOMPARE(runs.back()->failure(), QString("File too large"));
        runs.pop_back();
        return;
    }
    QStringList paths;
    for (const auto& run : runs) {
        QFile file(run->path());
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(run->path()));
        QVERIFY(file.readAll().startsWith(QCoreApplication::applicationName().toUtf8()));
        paths << run->path();
    }
    paths.removeDuplicates();
    QCOMPARE(paths.size(), wizards);
    QFile last(runs.back()->path());
    QVERIFY(last.open(QIODevice::ReadOnly) && last.readAll().endsWith(" info a line of the run\n"));
    QFile victim(appfolder::path("victim.txt"));
    QVERIFY(victim.open(QIODevice::ReadOnly));
    QCOMPARE(victim.readAll(), victimBytes);
    const QStringList kept = QDir(folder).entryList({"installator-*.log"}, QDir::Files);
    if (planted == "later")
        QCOMPARE(kept.size(), LogFile::kKeptFiles);
    // The newest takes the log back from the others as it goes.
    while (!runs.empty())
        runs.pop_back();
}

QTEST_GUILESS_MAIN(tst_readiness)
#include "tst_readiness.moc"
