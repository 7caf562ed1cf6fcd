// tavrin-dfu-demo driven as a process against its simulated accessories:
// upgrade: the write, its refusals and its failures. Each row is a command line
// with the exit status and the output fragments it must give (clifixture.h).
#include "clifixture.h"
#include "clitest.h"
#include "demoaccessory.h"
#include "dfufile.h"

#include <QFile>
#include <QProcess>
#include <QTest>

class tst_CliUpgrade : public CliTableTest {
    Q_OBJECT

    void commandRows() override;

private slots:
    void chains_data();
    void chains();
    void upgradeSendsTheFileAndResets();
    void theFileCheckedIsTheFileWritten();
};

void tst_CliUpgrade::commandRows() {
    const std::vector<uint8_t> small = dfu::makeDfuFile(dfu::makeImage(kSmallImageLength));
    const QString smallCrc = QString::number(dfu::le32(small.data() + small.size() - 4));
    row("upgrade", "upgrade {dir}/small.dfu", 0,
        {"write: 0 % (0 of 4096 bytes)", "Upgraded with", ", reset"});
    row("upgrade json", "upgrade --json --no-reset {dir}/small.dfu", 0,
        {R"j({"bytes":0,"event":"progress","operation":"write","percent":0,"total":4096})j",
         R"j("serial":"SIM-0001","size":4112,"status":0,"testImage":true,"text":"","time":")j",
         R"j("verify":"not run"})j"});
    row("upgrade json: what a station log keeps",
        "upgrade --json --verify --no-reset {dir}/small.dfu", 0,
        {R"j("crc":)j" + smallCrc + R"j(,"deviceVersion":"2.3.0","durationSeconds":)j",
         R"j(,"event":"result","file":"{dir}/small.dfu","fileVersion":null,)j"
         R"j("imageLengthField":4096,"path":")j",
         R"j("verify":"matched"})j"});
    row("--no-progress", "upgrade --json --no-progress --no-reset {dir}/small.dfu", 0,
        {R"j(!"event":"progress")j", R"j("event":"result")j"});
    row("--no-progress: --all", "upgrade --all --no-progress --no-reset {dir}/small.dfu", 0,
        {"!SIM-0001: write", "1 of 1 accessories succeeded"});
    row("a name that is not UTF-8, UTF-8 locale",
        "LC_ALL=C.UTF-8 upgrade --verify --no-reset {dir}/caf\\0351.dfu", 0,
        {"Upgraded with {dir}/caf\\xe9.dfu, verified"}, linuxOnly);
    row("upgrade refuses another product's file", "upgrade {dir}/foreign.dfu", 4,
        {"upgrade: File is for another product: idVendor 0x1234, idProduct 0xfffe (the accessory "
         "is idVendor 0x0a12, idProduct 0xfffe) (code -5): refused; --force uses it anyway"});
    row("upgrade --force", "upgrade --all --force --no-reset {dir}/foreign.dfu", 0,
        {"1 of 1 accessories succeeded"});
    row("upgrade takes the wildcard IDs", "upgrade --no-reset {dir}/wildcard.dfu", 0,
        {"Upgraded with"});
    row("upgrade: not newer warns", "upgrade --no-reset {dir}/v2.dfu", 0,
        {"Warning: the file's firmware is 2.3.0, the accessory's 2.3.0: not newer; upgrading"});
    row("newer-only refuses", "upgrade --newer-only --all {dir}/v2.dfu", 7,
        {"Not newer: the file's firmware is 2.3.0, the accessory's 2.3.0; --newer-only refuses"});
    row("newer-only: file states none", "upgrade --newer-only --json {dir}/small.dfu", 7,
        {R"j("deviceVersion":"2.3.0",)j", R"j("fileVersion":null,)j"});
    row("newer-only: device states none", "upgrade --newer-only --release-number 0 {dir}/v3.dfu", 7,
        {"the file's firmware is 3.0.0, the accessory's not stated"});
    row("newer-only: a file version that is not BCD", "upgrade --newer-only {dir}/v2a0.dfu", 7,
        {"Not newer: the file's firmware is not stated, the accessory's 2.3.0"});
    row("newer-only: a device version that is not BCD",
        "upgrade --newer-only --release-number 02A0 {dir}/v3.dfu", 7,
        {"the file's firmware is 3.0.0, the accessory's not stated"});
    row("newer-only takes a newer file", "upgrade --newer-only --no-reset {dir}/v3.dfu", 0,
        {"Upgraded with"});
    row("upgrade: no device", "upgrade --scenario no-accessory {dir}/small.dfu", 3,
        {"upgrade: Failed to connect to device (code -2): no accessory found: check the cable, "
         "run `tavrin-dfu list`"});
    row("upgrade: no device, the udev rule named",
        "upgrade --scenario no-accessory {dir}/small.dfu", 3,
        {"run `tavrin-dfu list`, and on Linux the udev rule (man tavrin-dfu)"}, linuxOnly);
    row("upgrade: bad file, no device needed", "upgrade --scenario no-accessory {dir}/badcrc.dfu",
        4, {"File CRC is incorrect (code -6)"});
    row("upgrade: overlong image length, no device needed",
        "upgrade --scenario no-accessory {dir}/overlong.dfu", 4, {"the file holds"});
    row("upgrade: device fails mid-transfer",
        "upgrade --json --scenario write-fails {dir}/full.dfu", 5,
        {R"j("code":-8,"command":"upgrade","crc":)j",
         R"j(,"detail":"the accessory may hold an incomplete firmware: run the upgrade again )j"
         R"j(to restore it","deviceVersion":"2.3.0","durationSeconds":)j",
         R"j(,"event":"result","file":"{dir}/full.dfu","fileVersion":null,)j"
         R"j("imageLengthField":65536,"path":")j",
         R"j("status":5,"testImage":true,"text":"Upgrade failed (DFU status code = 3)",)j"});
    row("upgrade: unplugged mid-transfer", "upgrade --scenario unplugged {dir}/full.dfu", 5,
        {"Failed to get feature information (GetStatus) (code -12): the accessory may hold an "
         "incomplete firmware: run the upgrade again to restore it"});
}

void tst_CliUpgrade::chains_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("pack, check, upgrade --verify")
        << QStringList{"pack {dir}/image.bin {dir}/round.dfu", "check {dir}/round.dfu",
                       "upgrade --verify {dir}/round.dfu"};
    // Outside every ANSI code page: Windows must take them as UTF-16.
    QTest::newRow("names in Cyrillic and Chinese")
        << QStringList{"pack {dir}/image.bin {dir}/прошивка-固件.dfu",
                       "upgrade --verify {dir}/прошивка-固件.dfu", "backup {dir}/резерв-备份.dfu",
                       "backup --force {dir}/резерв-备份.dfu", "check {dir}/резерв-备份.dfu"};
    QTest::newRow("a backup upgrades back to the same image") << QStringList{
        "backup {dir}/mine.dfu", "check {dir}/mine.dfu", "upgrade --verify {dir}/mine.dfu"};
}

void tst_CliUpgrade::chains() {
    QFETCH(QStringList, lines);
    for (const QString& line : lines) {
        const Ran ran = run(line.split(' '));
        QVERIFY2(ran.status == 0, qPrintable(line + "\n" + ran.output));
    }
}

void tst_CliUpgrade::upgradeSendsTheFileAndResets() {
    const Ran ran = run({"upgrade", "--verify", "--record", path("record.txt"), path("small.dfu")});
    QCOMPARE(ran.status, 0);
    QCOMPARE(sentReports(path("record.txt")), expectedUpgrade(path("small.dfu"), true));
}

// Replaced by another product's image while the flasher waits for the
// accessory: what was checked is what is written and compared.
void tst_CliUpgrade::theFileCheckedIsTheFileWritten() {
    QVERIFY(QFile::copy(path("small.dfu"), path("swapped.dfu")));
    QProcess process;
    process.start(TAVRIN_DFU_DEMO, {"upgrade", "--verify", "--appear-after", "3000", "--wait", "60",
                                    "--record", path("swap.txt"), path("swapped.dfu")});
    QVERIFY(process.waitForStarted());
    QByteArray said;
    QTRY_VERIFY2_WITH_TIMEOUT((said += process.readAll()).contains("Waiting up to"), said, 10000);
    QVERIFY(QFile::remove(path("swapped.dfu")) &&
            QFile::copy(path("foreign.dfu"), path("swapped.dfu")));
    QVERIFY(process.waitForFinished(kRunMs));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(sentReports(path("swap.txt")), expectedUpgrade(path("small.dfu"), true));
}

QTEST_GUILESS_MAIN(tst_CliUpgrade)
#include "tst_cli_upgrade.moc"
