// tavrin-dfu-demo driven as a process against its simulated accessories:
// mostly one table of command lines with the exit status and the output
// fragments each must give, every --json line parsed; then the chains
// (pack, check, upgrade --verify; backup, upgrade back), Ctrl+C, and the
// reports the accessory received.

#include "clitest.h"
#include "demoaccessory.h"
#include "devicetraffic.h"
#include "dfufile.h"
#include "stopsignals.h"
#include "testplatform.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <utility>

using namespace traffic;

namespace {

// Small enough to flash in well under a second; the faults of the scenarios
// strike within the demo's full-size firmware only.
constexpr uint32_t kSmallImageLength = 4096;
constexpr int kRunMs = 120000;

struct Ran {
    int status = -1;
    QString output; // standard output, then standard error
    QList<QJsonObject> json;
};

} // namespace

class tst_Cli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void commandLines_data();
    void commandLines();
    void chains_data();
    void chains();
    void signalsLetTheWriteFinish_data();
    void signalsLetTheWriteFinish();
    void upgradeSendsTheFileAndResets();
    void theFileCheckedIsTheFileWritten();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString filled(QString text) const {
        return text.replace("{fifo}", m_fifo).replace("{dir}", m_dir.path());
    }
    Ran run(QStringList arguments);
    void writeFile(const QString& name, QByteArray bytes);

    QTemporaryDir m_dir;
    QString m_fifo; // {dir}/fifo, or on Windows a named pipe
};

Ran tst_Cli::run(QStringList arguments) {
    for (QString& a : arguments)
        a = filled(a);
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (; QRegularExpression("^[A-Z_]+=").match(arguments.value(0)).hasMatch();
         arguments.removeFirst())
        environment.insert(arguments[0].section('=', 0, 0), arguments[0].section('=', 1));
    process.setProcessEnvironment(environment);
    // A byte the locale cannot encode is written \0351 (octal); the shell's printf makes it.
    if (arguments.join(' ').contains(QRegularExpression(R"(\\0[0-7]{3})")))
        process.start("/bin/sh",
                      QStringList{"-c",
                                  "n=$#; for a; do set -- \"$@\" \"$(printf %b \"$a\")\"; "
                                  "done; shift $n; exec \"$0\" \"$@\"",
                                  TAVRIN_DFU_DEMO} +
                          arguments);
    else
        process.start(QStringLiteral(TAVRIN_DFU_DEMO), arguments);
    process.waitForFinished(kRunMs);
    Ran ran;
    ran.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    // Lines end the system's way; a row's fragments end them with \n.
    ran.output =
        QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError())
            .replace("\r\n", "\n");
    if (arguments.contains(QLatin1String("--json")) && !arguments.contains(QLatin1String("list"))) {
        for (const QString& line : ran.output.split('\n', Qt::SkipEmptyParts)) {
            const QJsonDocument d = QJsonDocument::fromJson(line.toUtf8());
            if (d.isObject())
                ran.json << d.object();
            else
                qWarning() << "not a JSON line:" << line;
        }
    }
    return ran;
}

void tst_Cli::writeFile(const QString& name, QByteArray bytes) {
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

void tst_Cli::initTestCase() {
    QVERIFY(m_dir.isValid());
    writeFile("small.dfu", toByteArray(dfu::makeDfuFile(dfu::makeImage(kSmallImageLength))));
    writeFile("stored.dfu", toByteArray(dfu::makeDfuFile(demo::accessoryConfig().storedImage)));
    writeFile("full.dfu",
              toByteArray(dfu::makeDfuFile(dfu::makeImage(demo::kFirmwareImageLength))));
    QByteArray bad = toByteArray(dfu::makeDfuFile(dfu::makeImage(kSmallImageLength)));
    bad[100] = char(bad[100] ^ 1);
    writeFile("badcrc.dfu", bad);
    // Length field 5000 in a 4096-byte image.
    std::vector<uint8_t> long_ = dfu::makeImage(kSmallImageLength);
    dfu::putLe32(long_.data() + dfu::kImageLengthOffset, 5000);
    writeFile("overlong.dfu", toByteArray(dfu::makeDfuFile(long_)));
    writeFile("image.bin", toByteArray(dfu::makeImage(100)));
    writeFile("wronglength.bin", toByteArray(dfu::makeImage(100)) + "tail");
    writeFile("target.dfu", toByteArray(dfu::makeDfuFile(dfu::makeImage(kSmallImageLength))));
    // Symbolic links and names that are not UTF-8 are Linux rows.
    QVERIFY(
        !testplatform::isLinux() ||
        testplatform::makeLink("target.dfu", QFile::encodeName(path("link.dfu")).toStdString()));
    m_fifo = QFile::decodeName(
        testplatform::makeFifo(QFile::encodeName(path("fifo")).toStdString()).c_str());
    QVERIFY(!m_fifo.isEmpty());
    writeFile("empty.bin", {});
    writeFile("-dash.dfu", toByteArray(dfu::makeDfuFile(dfu::makeImage(kSmallImageLength))));
    // idProduct, then idVendor: 0x1234 is another vendor, 0xFFFF any; or bcdDevice and idProduct.
    for (const auto& [name, at, ids] :
         {std::tuple{"foreign.dfu", dfu::kSuffixIdProduct, 0x1234FFFEu},
          {"wildcard.dfu", dfu::kSuffixIdProduct, ~0u},
          {"v2.dfu", dfu::kSuffixBcdDevice, 0xFFFE0230u},
          {"v3.dfu", dfu::kSuffixBcdDevice, 0xFFFE0300u},
          {"v2a0.dfu", dfu::kSuffixBcdDevice, 0xFFFE02A0u}, // not BCD
          // bLength 16 and "\x1bc\x07": a terminal reset and a bell.
          {"controls.dfu", dfu::kSuffixSignature, 0x1007631Bu}}) {
        std::vector<uint8_t> f = dfu::makeDfuFile(dfu::makeImage(kSmallImageLength));
        dfu::putLe32(f.data() + f.size() - 16 + at, ids);
        dfu::putLe32(f.data() + f.size() - 4, dfu::Crc32().update(f.data(), f.size() - 4));
        writeFile(name, toByteArray(f));
    }
    QVERIFY(!testplatform::isLinux() ||
            testplatform::makeLink(
                "small.dfu", (QFile::encodeName(m_dir.path()) + "/caf\xe9.dfu").toStdString()));
    // Holes but the last bytes: no disk space, no time. 2 GiB; one byte more
    // than an upgrade takes, as a DFU file and as the image that packs into it.
    for (const auto& [name, size] : {std::pair{"big.dfu", qint64(1) << 31},
                                     {"huge.dfu", qint64(16 << 20) + 1},
                                     {"huge.bin", qint64(16 << 20) + 1 - 16}}) {
        QFile big(path(name));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.seek(size - 16));
        QCOMPARE(big.write(QByteArray(16, 'x')), 16);
    }
}

// QTemporaryDir removes by decoded names, which miss the ones that are not UTF-8.
void tst_Cli::cleanupTestCase() {
    for (const char* name : {"/caf\xe9.dfu", "/b\xea.dfu"})
        std::remove(QFile::encodeName(m_dir.path()) + name);
}

void tst_Cli::commandLines_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("fragments");
    QTest::addColumn<bool>("linuxOnly");
    const auto row = [](const char* name, const char* line, int status, QStringList fragments,
                        bool linuxOnly = false) {
        QTest::newRow(name) << QString::fromLatin1(line) << status << fragments << linuxOnly;
    };
    // Rows that need symbolic links, /dev, /proc or names that are not UTF-8.
    constexpr bool linuxOnly = true;
    const QString stored = QString::number(demo::kStoredImageLength);
    const std::vector<uint8_t> small = dfu::makeDfuFile(dfu::makeImage(kSmallImageLength));
    const QString smallCrc = QString::number(dfu::le32(small.data() + small.size() - 4));
    row("help lists exit statuses", "--help", 0,
        {"upgrade  Write", "6    verify mismatch", "130  interrupted (Ctrl+C", "143  "});
    row("help lists SIGHUP", "--help", 0, {"129  hung up", "143  terminated (SIGTERM)"}, linuxOnly);
    row("command help", "upgrade --help", 0,
        {"Usage: tavrin-dfu-demo upgrade [options] FILE\n", "--no-reset", "--scenario",
         "-h, --help  ", "3    no device"});
    row("version", "--version", 0, {"tavrin-dfu-demo 1.0.0"});
    row("usage: no command", "", 2, {"no command given"});
    row("usage: unknown command", "flash x", 2, {"unknown command \"flash\""});
    row("usage: missing file", "upgrade", 2, {"upgrade takes 1 argument(s): FILE"});
    row("usage: unknown option", "reset --force", 2, {"Unknown option 'force'"});
    row("usage: all with serial", "verify --all --serial x {dir}/small.dfu", 2, {"drop --path"});
    row("usage: path and serial", "reset --path x --serial y", 2, {"--path and --serial each"});
    row("usage: several attached, none chosen", "backup --scenario healthy,healthy {dir}/two.dfu",
        2,
        {"backup: 2 accessories attached: choose one with --serial or --path (see list), or "
         "use --all\n"});
    row("usage: unknown scenario", "reset --scenario nope", 2, {"unknown scenario \"nope\""});
    row("list", "list --scenario healthy,healthy", 0,
        {"* 0a12:fffe  ff00:0001      64  SIM-0001", "SIM-0002      2.3.0    ", "dev/hidraw1"});
    row("list json", "list --json --bus-root {dir}/bus", 0,
        {R"j([{"accessory":true,"deviceVersion":"2.3.0","featureReportLength":64,)j"
         R"j("manufacturer":"TAVRIN","path":")j",
         R"j(/bus/dev/hidraw0","product":"TAVRIN accessory (simulated)","productId":65534,)j"
         R"j("serialNumber":"SIM-0001","usage":1,"usagePage":65280,"vendorId":2578}])j"});
    row("list escapes what a device sends", "list --serial-numbers A\x1b[2J\x9b", 0,
        {"A\\x1b[2J\\x9b"});
    row("list json escapes it too", "list --json --serial-numbers A\x1b[2J\x9b", 0,
        {"A\\u001b[2J\\u009b"});
    row("check escapes the signature", "check {dir}/controls.dfu", 4,
        {"signature \"\\x1bc\\x07\", bLength 16"});
    row("list nothing", "list --scenario no-accessory", 0, {"No HID interfaces found."});
    row("check", "check {dir}/small.dfu", 0,
        {"bcdDevice 0x0001, idProduct 0xfffe, idVendor 0x0a12, bcdDFU 0x0100, signature "
         "\"UFD\", bLength 16",
         "Image length field: 4096 bytes", "Image bytes:        4096",
         "Version:            not stated", "Image: a generated test image, not a firmware release",
         "valid (code 0)"});
    row("check states the file's version", "check --json {dir}/v3.dfu", 0,
        {R"j("fileVersion":"3.0.0",)j"});
    row("check json", "check --json {dir}/small.dfu", 0,
        {R"j("imageBytes":4096,"imageLengthField":4096,)j",
         R"j("size":4112,"status":0,"testImage":true)j"});
    row("check warns of another product", "check {dir}/foreign.dfu", 0,
        {"Warning: the suffix names another product (idVendor 0x1234, idProduct 0xfffe)",
         "valid (code 0)"});
    row("check: a firmware is no test image", "check --json {dir}/stored.dfu", 0,
        {R"j("testImage":false)j"});
    row("check bad crc", "check {dir}/badcrc.dfu", 4, {"check: File CRC is incorrect (code -6)"});
    row("check overlong image length", "check {dir}/overlong.dfu", 4,
        {"Image length field says 5000 bytes; the file holds 4096 (code -5)"});
    row("check missing file", "check {dir}/none.dfu", 4,
        {"Failed to open file \"", "none.dfu\" (code -3): No such file"});
    row("check too short", "check {dir}/image.bin", 4, {"File suffix is invalid (code -5)"});
    row("check refuses a FIFO", "check {fifo}", 4,
        {"check: Failed to open file \"{fifo}\" (code -3): not a regular file"});
    row("check refuses a device", "check /dev/zero", 4, {"(code -3): not a regular file"},
        linuxOnly);
    row("check of 2 GiB", "check {dir}/big.dfu", 4,
        {"big.dfu (2147483648 bytes)",
         "check: File is 2147483648 bytes; at most 16777216 bytes are accepted (code -5)"});
    row("check: one byte more than an upgrade takes", "check {dir}/huge.dfu", 4,
        {"check: File is 16777217 bytes; at most 16777216 bytes are accepted (code -5)"});
    row("pack: one byte more than an upgrade takes", "pack {dir}/huge.bin {dir}/huge-packed.dfu", 4,
        {"pack: File is 16777217 bytes; at most 16777216 bytes are accepted (code -5)"});
    row("pack: a test image too large", "pack --test-image 16777201 {dir}/huge-test.dfu", 4,
        {"pack: File is 16777217 bytes; at most 16777216 bytes are accepted (code -5)"});
    row("a name with control characters is shown escaped", "check {dir}/n\\0033[2J\\0007.dfu", 4,
        {"Failed to open file \"{dir}/n\\x1b[2J\\x07.dfu\" (code -3)"}, linuxOnly);
    row("pack", "pack {dir}/image.bin {dir}/packed.dfu", 0, {"Packed 100 image bytes into"});
    row("pack over itself", "pack {dir}/image.bin {dir}/image.bin", 4,
        {"pack: File \"{dir}/image.bin\" exists and is the image itself (code -4): refused; "
         "--force replaces it"});
    row("backup over a file", "backup {dir}/small.dfu", 4,
        {"backup: File \"{dir}/small.dfu\" exists (code -4): refused; --force replaces it"});
    row("pack refuses a FIFO", "pack {fifo} {dir}/x.dfu", 4, {"(code -3): not a regular file"});
    row("pack refuses to replace a FIFO", "pack {dir}/image.bin {fifo}", 4,
        {"pack: Failed to open file \"{fifo}\" (code -3): not a regular file"});
    row("pack refuses an empty image", "pack {dir}/empty.bin {dir}/empty.dfu", 4,
        {"pack: Image is 0 bytes long; its length field needs 14 (code -5)"});
    row("pack refuses a wrong length field", "pack {dir}/wronglength.bin {dir}/x.dfu", 4,
        {"Image length field (100) does not match the image size (104) (code -5): refused"});
    row("pack --force", "pack --force --json {dir}/wronglength.bin {dir}/forced.dfu", 0,
        {R"j("imageBytes":104,"size":120,"status":0)j"});
    row("pack --release", "pack --release 2.4.0 --test-image 4096 {dir}/release.dfu", 0,
        {"Packed 4096 image bytes into {dir}/release.dfu (CRC 0x", ", version 2.4.0)\n"});
    row("check shows the release", "check {dir}/release.dfu", 0,
        {"bcdDevice 0x0240,", "Version:            2.4.0\n"});
    row("pack --release: a MINOR that BCD cannot hold",
        "pack --release 2.10.0 --test-image 4096 {dir}/minor.dfu", 2,
        {"pack: --release 2.10.0: MINOR is at most 9 (the suffix's bcdDevice holds MAJOR 0-99, "
         "MINOR 0-9 and PATCH 0-9)\n"});
    row("pack --release: 0.0.1 is a backup's", "pack --release 0.0.1 {dir}/image.bin {dir}/b.dfu",
        2, {"bcdDevice 0x0001 is what every backup carries"});
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
    row("verify json: a firmware is no test image", "verify --json {dir}/stored.dfu", 0,
        {R"j("testImage":false,)j", R"j("verify":"matched"})j"});
    row("--no-progress", "upgrade --json --no-progress --no-reset {dir}/small.dfu", 0,
        {R"j(!"event":"progress")j", R"j("event":"result")j"});
    row("--no-progress: plain lines", "verify --no-progress {dir}/stored.dfu", 0,
        {"!read:", "Verified: the accessory holds"});
    row("--no-progress: --all", "upgrade --all --no-progress --no-reset {dir}/small.dfu", 0,
        {"!SIM-0001: write", "1 of 1 accessories succeeded"});
    row("a name that is not UTF-8, C locale", "LC_ALL=C check {dir}/caf\\0351.dfu", 0,
        {"caf\\xe9.dfu (4112 bytes)", "valid (code 0)"}, linuxOnly);
    row("a name that is not UTF-8, UTF-8 locale",
        "LC_ALL=C.UTF-8 upgrade --verify --no-reset {dir}/caf\\0351.dfu", 0,
        {"Upgraded with {dir}/caf\\xe9.dfu, verified"}, linuxOnly);
    row("json: a name that is not UTF-8 apart from one spelling \\xe9",
        "LC_ALL=C check --json {dir}/caf\\0351.dfu", 0,
        {R"j("file":"{dir}/caf\\xe9.dfu","fileBytes":"{dir}/caf%E9.dfu",)j"}, linuxOnly);
    row("a backup into a name that is not UTF-8", "LC_ALL=C backup {dir}/b\\0352.dfu", 0,
        {"into {dir}/b\\xea.dfu"}, linuxOnly);
    row("upgrade refuses another product's file", "upgrade {dir}/foreign.dfu", 4,
        {"upgrade: File is for another product: idVendor 0x1234, idProduct 0xfffe (the accessory "
         "is idVendor 0x0a12, idProduct 0xfffe) (code -5): refused; --force uses it anyway"});
    row("verify refuses another product's file", "verify --all {dir}/foreign.dfu", 4,
        {"verify: File is for another product"});
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
    row("backup", "backup {dir}/backup.dfu", 0,
        {"Backed up " + stored + " image bytes into", "read: 0 %\n"});
    row("backup to an unwritable folder", "backup {dir}/none/b.dfu", 4, {"(code -3)"});
    row("backup refuses a FIFO", "backup {fifo}", 4,
        {"backup: Failed to open file \"{fifo}\": not a regular file (code -3)"});
    row("backup through a link", "backup --force {dir}/link.dfu", 0, {"Backed up " + stored},
        linuxOnly);
    row("the link's target holds the backup", "check {dir}/target.dfu", 0, {"(49168 bytes)"},
        linuxOnly);
    row("verify without a temporary folder",
        "TMPDIR=/proc upgrade --verify --bus-root {dir}/bus {dir}/small.dfu", 0,
        {"read: 0 % (0 of 4112 bytes)", ", verified, reset"}, linuxOnly);
    row("verify mismatch", "verify --json {dir}/small.dfu", 6,
        {R"j("code":0,"command":"verify","crc":)j",
         R"j(,"detail":"the firmware read back differs from )j",
         R"j(small.dfu at offset 0 (0x0): file 0x)j", R"j("offset":0,)j", R"j("status":6,)j",
         R"j("verify":"mismatch"})j"});
    row("reset", "reset", 0, {"Reset"});
    row("wait: appears late", "reset --appear-after 1500 --wait 20", 0,
        {"Waiting up to 20 s for the accessory...", "Reset"});
    row("wait: not a number", "reset --wait nan", 2, {"reset: --wait needs a number of seconds\n"});
    row("wait: for ever", "reset --wait inf", 2, {"--wait needs a number of seconds"});
    row("wait: never appears", "reset --scenario no-accessory --wait 1", 3,
        {"Waiting up to 1 s", "(code -2): no accessory found"});
    row("serial picks the second", "reset --json --scenario healthy,healthy --serial SIM-0002", 0,
        {R"j(/dev/hidraw1","serial":"SIM-0002","status":0)j"});
    row("serial shared by two", "reset --scenario healthy,healthy --serial-numbers D,D --serial D",
        2, {"reset: 2 accessories have serial number \"D\": choose one with --path (see list)\n"});
    row("serial not there", "reset --scenario healthy,healthy --serial SIM-0003", 3,
        {"no accessory with serial number \"SIM-0003\""});
    row("path picks the second",
        "reset --json --bus-root {dir}/bus --scenario healthy,healthy --path {dir}/bus/dev/hidraw1",
        0, {R"j(/bus/dev/hidraw1","serial":"SIM-0002","status":0)j"});
    row("path not an accessory", "reset --path /dev/null", 3, {"no accessory at /dev/null"});
    row("all: three, one fails",
        "upgrade --all --scenario healthy,write-fails,healthy --no-reset {dir}/full.dfu", 5,
        {"upgrade on 3 accessories", "SIM-0002: FAILED",
         "SIM-0001          ok           0      0\n",
         "SIM-0002          failed       5     -8  Upgrade failed (DFU status code = 3): the "
         "accessory may hold an incomplete firmware: run the upgrade again to restore it\n",
         "SIM-0003          ok           0      0\n", "2 of 3 accessories succeeded"});
    row("all json: a station log",
        "upgrade --all --json --verify --scenario healthy,healthy,unplugged {dir}/full.dfu", 5,
        {R"j("operation":"read","path":")j",
         R"j("serial":"SIM-0002","size":65552,"status":0,"testImage":true,"text":"","time":")j",
         R"j("serial":"SIM-0003","size":65552,"status":5,"testImage":true,)j"
         R"j("text":"Failed to get feature information (GetStatus)","time":")j",
         R"j(Z","verify":"matched"})j", R"j(Z","verify":"not run"})j",
         R"j({"accessories":3,"command":"upgrade","durationSeconds":)j",
         R"j(,"event":"summary","failed":1,"status":5,"time":")j"});
    row("all verify", "verify --all --scenario healthy,healthy {dir}/stored.dfu", 0,
        {"2 of 2 accessories succeeded"});
    row("all: a file after --", "upgrade --all --no-reset -- -dash.dfu", 0,
        {"1 of 1 accessories succeeded"});
    row("all: a name that is not UTF-8", "upgrade --all --no-reset {dir}/caf\\0351.dfu", 0,
        {"1 of 1 accessories succeeded"}, linuxOnly);
}

void tst_Cli::commandLines() {
    QFETCH(QString, line);
    QFETCH(int, status);
    QFETCH(QStringList, fragments);
    QFETCH(bool, linuxOnly);
    if (linuxOnly && !testplatform::isLinux())
        QSKIP("a Linux row: symbolic links, /dev, /proc or a name that is not UTF-8");
    const Ran ran = run(line.split(' ', Qt::SkipEmptyParts));
    // A fragment that starts with ! must not be there.
    for (const QString& fragment : fragments)
        QVERIFY2(ran.output.contains(filled(fragment).remove(QRegularExpression("^!"))) !=
                     fragment.startsWith('!'),
                 qPrintable(filled(fragment) + "\n--- in the output or not:\n" + ran.output));
    QCOMPARE(ran.status, status);
    if (line.contains("--json") && !line.startsWith("list")) {
        QVERIFY(!ran.json.isEmpty());
        const QJsonObject last = ran.json.last();
        QCOMPARE(last.value("status").toInt(), status);
        QVERIFY2(last.value("event") == "result" || last.value("event") == "summary",
                 qPrintable(ran.output));
    }
    // Every result and summary line is stamped; time left is in whole seconds.
    for (const QJsonObject& object : ran.json) {
        if (object.value("event") == "progress" && object.contains("secondsLeft")) {
            const double left = object.value("secondsLeft").toDouble(-1);
            QVERIFY2(left >= 0 && left == std::floor(left), qPrintable(ran.output));
        } else if (object.value("event") != "progress") {
            const QString time = object.value("time").toString();
            const QDateTime when = QDateTime::fromString(time, Qt::ISODateWithMs);
            QVERIFY2(when.isValid() && when.timeSpec() == Qt::UTC && time.endsWith('Z'),
                     qPrintable(ran.output));
            QVERIFY2(object.value("durationSeconds").toDouble(-1) >= 0, qPrintable(ran.output));
        }
    }
}

void tst_Cli::chains_data() {
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

void tst_Cli::chains() {
    QFETCH(QStringList, lines);
    for (const QString& line : lines) {
        const Ran ran = run(line.split(' '));
        QVERIFY2(ran.status == 0, qPrintable(line + "\n" + ran.output));
    }
}

void tst_Cli::signalsLetTheWriteFinish_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("fragments");
    const QString one = "upgrade --json {dir}/full.dfu";
    for (const StopSignal& stop : stopSignals())
        QTest::newRow(qPrintable(stop.name))
            << stop.number << one << stop.status
            << QStringList{stop.text + ": the write is finishing", QString(R"j("percent":99)j"),
                           QString(R"j("detail":"the write completed; the reset was skipped: the )j"
                                   R"j(accessory stays in update mode: run `tavrin-dfu reset`")j"),
                           QString(R"j("status":%1,"testImage":true,"text":"%2","time":")j")
                               .arg(stop.status)
                               .arg(stop.text)};
    QTest::newRow("--all after Ctrl+C: a write failed on its own")
        << SIGINT << "upgrade --all --json --scenario healthy,write-fails {dir}/full.dfu" << 130
        << QStringList{R"j("serial":"SIM-0001","size":65552,"status":130,"testImage":true,)j"
                       R"j("text":"Interrupted",)j",
                       R"j("serial":"SIM-0002","size":65552,"status":5,)j",
                       R"j("event":"summary","failed":2,"status":130,)j"};
    // Where the system has them: Windows has neither SIGPIPE nor a SIGTERM to send.
    if (brokenPipeSignal() != 0)
        QTest::newRow("standard output closed") << brokenPipeSignal() << one << 0 << QStringList{};
    // As nohup starts it: the hang-up was ignored from the start and stays so.
    if (hangUpSignal() != 0)
        QTest::newRow("SIGHUP ignored from the start (nohup)")
            << hangUpSignal() << "nohup upgrade --verify {dir}/full.dfu" << 0
            << QStringList{"full.dfu, verified, reset\n"};
    if (stopSignals().size() > 1)
        QTest::newRow("--all passes SIGTERM on")
            << SIGTERM << "upgrade --all --json --scenario healthy,healthy {dir}/full.dfu" << 143
            << QStringList{R"j("serial":"SIM-0002","size":65552,"status":143,"testImage":true,)j"
                           R"j("text":"Terminated",)j",
                           R"j("event":"summary","failed":2,"status":143,)j"};
    // As a terminal sends Ctrl+C: to the parent and its children at once.
    if (stopSignals().size() > 1)
        QTest::newRow("--all: Ctrl+C to the process group")
            << -SIGINT << "upgrade --all --json --scenario healthy,healthy {dir}/full.dfu" << 130
            << QStringList{R"j("serial":"SIM-0001","size":65552,"status":130,)j",
                           R"j("serial":"SIM-0002","size":65552,"status":130,)j",
                           R"j("event":"summary","failed":2,"status":130,)j"};
}

// The signal (on Windows Ctrl+Break) arrives once the first progress line is
// out; the standard output of the SIGPIPE row is a pipe whose reader leaves
// after one byte. A line that begins with nohup is run under nohup.
void tst_Cli::signalsLetTheWriteFinish() {
    QFETCH(int, signal);
    QFETCH(QString, line);
    QFETCH(int, status);
    QFETCH(QStringList, fragments);
    QStringList arguments = line.replace("{dir}", m_dir.path()).split(' ');
    if (!line.contains("--all"))
        arguments << "--record" << path("signal.txt");
    QString program = TAVRIN_DFU_DEMO;
    if (arguments.first() == "nohup")
        std::swap(program, arguments.first());
    QProcess process;
    const Interrupt sent = startAndInterrupt(process, program, arguments, signal);
    if (sent == Interrupt::NotDelivered)
        QSKIP("the system sends no console events here (Wine)");
    QVERIFY(sent == Interrupt::Sent);
    QVERIFY(process.waitForFinished(kRunMs));
    const QString out = process.readAllStandardOutput() + process.readAllStandardError();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    for (const QString& fragment : fragments)
        QVERIFY2(out.contains(fragment), qPrintable(fragment + "\n--- not in:\n" + out));
    // Each row sends one signal, which is one request wherever it arrives.
    QVERIFY2(!out.contains(" again: "), qPrintable(out));
    // The accessory received the whole write; a reset only when nothing stopped the run.
    if (!line.contains("--all"))
        QCOMPARE(sentReports(path("signal.txt")), expectedUpgrade(path("full.dfu"), status == 0));
}

void tst_Cli::upgradeSendsTheFileAndResets() {
    const Ran ran = run({"upgrade", "--verify", "--record", path("record.txt"), path("small.dfu")});
    QCOMPARE(ran.status, 0);
    QCOMPARE(sentReports(path("record.txt")), expectedUpgrade(path("small.dfu"), true));
}

// Replaced by another product's image while the flasher waits for the
// accessory: what was checked is what is written and compared.
void tst_Cli::theFileCheckedIsTheFileWritten() {
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

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
