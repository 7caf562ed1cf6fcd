// What the controller knows before anything is written: whether the firmware
// file beside the program can be installed and which version it holds, and
// whether an accessory is attached and which version it runs.
#include "appfolder.h"
#include "demoaccessory.h"
#include "enginesupport.h"
#include "installator.h"

#include <QJsonObject>
#include <QtTest>

using namespace enginesupport;

namespace {
const char kFirmwareName[] = "firmware.dfu";
} // namespace

class tst_readiness : public QObject {
    Q_OBJECT

private slots:
    void init() { sim::Bus::reset(); }
    void cleanup() { appfolder::remove(kFirmwareName); }

    void firmwareFileCheckedAtStart_data();
    void firmwareFileCheckedAtStart();
    void accessoryWatchedWithItsVersion();
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

QTEST_GUILESS_MAIN(tst_readiness)
#include "tst_readiness.moc"
