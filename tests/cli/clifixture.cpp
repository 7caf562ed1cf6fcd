#include "clifixture.h"

#include "clitest.h"
#include "demoaccessory.h"
#include "dfufile.h"
#include "testplatform.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <tuple>
#include <utility>

void row(const char* name, const char* line, int status, QStringList fragments, bool linuxOnly) {
    QTest::newRow(name) << QString::fromLatin1(line) << status << fragments << linuxOnly;
}

void CliTableTest::commandLines_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("fragments");
    QTest::addColumn<bool>("linuxOnly");
    commandRows();
}

Ran CliTest::run(QStringList arguments) {
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

void CliTest::writeFile(const QString& name, QByteArray bytes) {
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

void CliTest::makeFiles() {
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
void CliTest::removeFiles() {
    for (const char* name : {"/caf\xe9.dfu", "/b\xea.dfu"})
        std::remove(QFile::encodeName(m_dir.path()) + name);
}

void CliTableTest::commandLines() {
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
