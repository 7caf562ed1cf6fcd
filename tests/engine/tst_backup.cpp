// The backup procedure through the engine's call interface, against the
// simulated accessory: the replies it reads and the file it writes, its
// failures (the previous backup stays), small reports, a folder where no
// file can be made, its progress values, and the backup half of the fault
// matrix.

#include "enginetest.h"
#include "testplatform.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <sys/stat.h>

#include <algorithm>

using namespace enginetest;
using namespace traffic;

class tst_Backup : public EngineTest {
    Q_OBJECT

    // The new files a backup writes before they replace their target.
    QStringList partialFiles() const {
        return QDir(m_dir.path()).entryList({"*.partial-*"}, QDir::AllEntries | QDir::System);
    }

private slots:
    void backupOfAHundredBytes();
    void backupFailuresKeepThePreviousBackup_data();
    void backupFailuresKeepThePreviousBackup();
    void backupWithSmallReports_data();
    void backupWithSmallReports();
    void backupToAnUnwritableFolder();
    void hostileTargets_data();
    void hostileTargets();
    void progressValues_data();
    void progressValues();
    void faultMatrix_data();
    void faultMatrix();
};

void tst_Backup::backupOfAHundredBytes() {
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
    QVERIFY(partialFiles().isEmpty());

    // The backup restores exactly the image it holds.
    device.clearRecords();
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    QCOMPARE(device.receivedImage(), image);
}

void tst_Backup::backupFailuresKeepThePreviousBackup_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<Bytes>("image");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const Bytes image = dfu::makeImage(300, 4);
    QTest::newRow("image length 0") << Setup([](sim::DeviceModel&) {}) << imageDeclaring(100, 0)
                                    << -20 << "Device reports DFU length of zero";
    const devicefaults::Fault empty = devicefaults::backupLengthZero();
    QTest::newRow("first reply empty") << empty.setup << image << empty.code << empty.text;
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
    QTest::newRow("image length beyond any firmware")
        << Setup([](sim::DeviceModel&) {}) << imageDeclaring(100, 1u << 30) << -20
        << "Device reports DFU length of 1073741824 bytes, more than the 16777200 bytes a "
           "firmware image can have";
    QTest::newRow("L 7, length field 5")
        << Setup([](sim::DeviceModel&) {}) << imageDeclaring(14, 5) << -20
        << "Device reports DFU length of 5 bytes, shorter than the 14 bytes that carry it";
}

void tst_Backup::backupFailuresKeepThePreviousBackup() {
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
    QVERIFY(partialFiles().isEmpty());
}

// A report too small to carry the image's length field in one reply: the
// length is gathered from as many replies as it takes.
void tst_Backup::backupWithSmallReports_data() {
    QTest::addColumn<int>("L");
    QTest::newRow("L 7") << 7;
    QTest::newRow("L 10") << 10;
    QTest::newRow("L 19") << 19;
    QTest::newRow("L 20") << 20;
}

void tst_Backup::backupWithSmallReports() {
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

void tst_Backup::backupToAnUnwritableFolder() {
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

// What stands at the target's name, or at the names a backup used to write
// through, must neither be written through nor stop the backup.
void tst_Backup::hostileTargets_data() {
    QTest::addColumn<QString>("setup"); // shell-free: "link A B", "fifo A", "mode 600 A"
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow(".partial is a link to another file") << "link victim.txt b1.dfu.partial"
                                                        << "b1.dfu" << 0 << "";
    QTest::newRow(".partial is a FIFO") << "fifo b2.dfu.partial"
                                        << "b2.dfu" << 0 << "";
    QTest::newRow("target is a link to nothing")
        << "link elsewhere/x dang.dfu"
        << "dang.dfu" << -3 << "Failed to open file \"{dir}/dang.dfu\": a symbolic link to nothing";
    QTest::newRow("target's mode 600 is kept") << "mode 600 private.dfu"
                                               << "private.dfu" << 0 << "";
    const QString longest = QString(246, 'n') + ".dfu";
    QTest::newRow("target name of 250 bytes") << "mode 600 " + longest << longest << 0 << "";
}

void tst_Backup::hostileTargets() {
    QFETCH(QString, setup);
    QFETCH(QString, target);
    QFETCH(int, code);
    QFETCH(QString, text);
    if (!testplatform::isLinux())
        QSKIP("links, FIFOs and modes are Linux rows");
    const QStringList step = setup.split(' ');
    const QByteArray victimBytes = "the person's own file";
    {
        QFile victim(m_dir.filePath("victim.txt"));
        QVERIFY(victim.open(QIODevice::WriteOnly) && victim.write(victimBytes) > 0);
    }
    const QByteArray last = QFile::encodeName(m_dir.filePath(step.last()));
    if (step[0] == "link")
        QVERIFY(testplatform::makeLink(step[1].toStdString(), last.toStdString()));
    else if (step[0] == "fifo")
        QVERIFY(!testplatform::makeFifo(last.toStdString()).empty());
    else
        QVERIFY(writeFile(step.last(), {1, 2, 3}).size() > 0 &&
                ::chmod(last.constData(), mode_t(step[1].toUInt(nullptr, 8))) == 0);

    const Bytes image = dfu::makeImage(100, 5);
    sim::AccessoryConfig config;
    config.storedImage = image;
    sim::Bus::addAccessory(config);
    const QString path = m_dir.filePath(target);
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuBackup(QFile::encodeName(path).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), code);
    if (code == 0) {
        QCOMPARE(readFile(path), dfu::makeDfuFile(image));
    } else {
        QCOMPARE(QString::fromStdString(lastError()), QString(text).replace("{dir}", m_dir.path()));
        QVERIFY(!QFile::exists(m_dir.filePath("elsewhere")));
    }
    QCOMPARE(readFile(m_dir.filePath("victim.txt")), Bytes(victimBytes.begin(), victimBytes.end()));
    if (step[0] == "mode") {
        struct stat info = {};
        QVERIFY(::stat(last.constData(), &info) == 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
    }
    QVERIFY(partialFiles().isEmpty());
}

void tst_Backup::progressValues_data() {
    QTest::addColumn<uint32_t>("length");
    QTest::addColumn<QList<int>>("progress");
    QTest::newRow("backup, 100 bytes") << 100u << QList<int>{0, 58};
    QTest::newRow("backup, one report") << 58u << QList<int>{0};
}

void tst_Backup::progressValues() {
    QFETCH(uint32_t, length);
    QFETCH(QList<int>, progress);
    compareWorkerProgress(dfu::makeImage(length), true, m_dir.filePath("progress.backup"),
                          progress);
}

void tst_Backup::faultMatrix_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
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
                << p << fault << (fault <= StopsAnswering || fault == ShortReply ? -12 : -20)
                << texts[fault <= StopsAnswering ? fault : fault - 3];
    }
}

void tst_Backup::faultMatrix() {
    QFETCH(int, position);
    QFETCH(int, fault);
    QFETCH(int, code);
    QFETCH(QString, text);
    runFaultCase(true, writeFile("matrix.backup", previousBackup()), position, fault, code, text);
}

QTEST_GUILESS_MAIN(tst_Backup)
#include "tst_backup.moc"
