#include "flasher.h"

#include "arguments.h"
#include "chiddfuerrorstate.h"
#include "clibackend.h"
#include "dfufile.h"
#include "dfufiles.h"
#include "exitstatus.h"
#include "hiddfu.h"
#include "output.h"
#include "report.h"
#include "sessioninhibitor.h"
#include "station.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QThread>
#include <QVector>

#include <hidapi/hidapi.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <vector>

namespace cli {

namespace {

// How often the engine's progress and, while waiting, the bus are looked at.
constexpr unsigned long kProgressPollMs = 50;
constexpr unsigned long kWaitPollMs = 200;

volatile std::sig_atomic_t g_interrupted = 0;

void onInterrupt(int signal) {
    if (!g_interrupted)
        g_interrupted = signal;
}

// ---------------------------------------------------------------------------
// Options and commands.

const QCommandLineOption kJson(QStringLiteral("json"),
                               QStringLiteral("Print JSON: one object per line (list: an array)."));
const QCommandLineOption kPath(QStringLiteral("path"),
                               QStringLiteral("Use the accessory at this HID path (see list)."),
                               QStringLiteral("path"));
const QCommandLineOption kSerial(QStringLiteral("serial"),
                                 QStringLiteral("Use the accessory with this serial number."),
                                 QStringLiteral("text"));
const QCommandLineOption kWait(QStringLiteral("wait"),
                               QStringLiteral("Wait up to this long for the accessory to appear."),
                               QStringLiteral("seconds"));
const QCommandLineOption
    kAll(QStringLiteral("all"),
         QStringLiteral("Every attached accessory at once, one process each."));
const QCommandLineOption kVerify(QStringLiteral("verify"),
                                 QStringLiteral("Read the firmware back after writing and compare "
                                                "it with the file's image (before the reset)."));
const QCommandLineOption kNoReset(QStringLiteral("no-reset"),
                                  QStringLiteral("Leave the accessory in its update mode."));
const QCommandLineOption kForce(QStringLiteral("force"),
                                QStringLiteral("Pack an image whose length field (bytes 10-13) "
                                               "does not match its size; upgrade or verify with "
                                               "a file whose suffix names another vendor or "
                                               "product."));
const QCommandLineOption kTestImage(QStringLiteral("test-image"),
                                    QStringLiteral("Pack a generated test image of this many "
                                                   "bytes instead of reading IMAGE."),
                                    QStringLiteral("length"));

// How the parent of --all hands each child its file: a child's arguments
// pass through the locale's encoding, which loses a byte that does not decode.
QCommandLineOption fileBytesOption() {
    QCommandLineOption option(QStringLiteral("file-bytes"),
                              QStringLiteral("FILE as percent-encoded bytes (for --all)."),
                              QStringLiteral("bytes"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}
const QCommandLineOption kFileBytes = fileBytesOption();

// What a command needs before it runs; each need brings its options.
enum Needs { kNone = 0, kDevice = 1, kFile = 2, kAllowAll = 4, kBackend = 8 };

class Run;

struct Command {
    const char* name;
    const char* synopsis; // positional arguments
    const char* summary;
    // Its own options, after those its needs bring.
    QList<QCommandLineOption> options;
    int needs;
    // With kDevice, runs once the accessory is open.
    int (*run)(Run& run, const QStringList& arguments);
};

// ---------------------------------------------------------------------------
// HID interfaces.

struct HidInterface {
    QString path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    QString serialNumber;
    QString manufacturer;
    QString product;

    bool isAccessory() const { return vendorId == kVendorId && productId == kProductId; }
};

QString wideText(const wchar_t* text) {
    return text ? QString::fromWCharArray(text) : QString();
}

QVector<HidInterface> enumerateHid() {
    QVector<HidInterface> list;
    hid_device_info* devices = hid_enumerate(0, 0);
    for (hid_device_info* d = devices; d; d = d->next) {
        list.push_back({QString::fromLocal8Bit(d->path ? d->path : ""), d->vendor_id, d->product_id,
                        d->usage_page, d->usage, wideText(d->serial_number),
                        wideText(d->manufacturer_string), wideText(d->product_string)});
    }
    hid_free_enumeration(devices);
    return list;
}

// ---------------------------------------------------------------------------
// A command's run: its command line and its report.

class Run : public Report {
public:
    Run(const Command& command, QCommandLineParser& parser)
        : Report(QLatin1String(command.name), Output::modeFor(parser.isSet(kJson))),
          command(command), parser(parser) {}

    const Command& command;
    QCommandLineParser& parser;
};

QString hex(uint32_t value, int digits) {
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

// ---------------------------------------------------------------------------
// Commands without a device.

int listCommand(Run& run, const QStringList&) {
    QJsonArray array;
    QStringList rows;
    for (const HidInterface& h : enumerateHid()) {
        const uint16_t length = hidDfuFeatureReportLength(QFile::encodeName(h.path).constData());
        array.append(QJsonObject{{QStringLiteral("path"), h.path},
                                 {QStringLiteral("vendorId"), h.vendorId},
                                 {QStringLiteral("productId"), h.productId},
                                 {QStringLiteral("usagePage"), h.usagePage},
                                 {QStringLiteral("usage"), h.usage},
                                 {QStringLiteral("serialNumber"), h.serialNumber},
                                 {QStringLiteral("manufacturer"), h.manufacturer},
                                 {QStringLiteral("product"), h.product},
                                 {QStringLiteral("featureReportLength"), length},
                                 {QStringLiteral("accessory"), h.isAccessory()}});
        rows << QStringLiteral("%1 %2:%3  %4:%5  %6  %7  %8")
                    .arg(h.isAccessory() ? QLatin1Char('*') : QLatin1Char(' '))
                    .arg(h.vendorId, 4, 16, QLatin1Char('0'))
                    .arg(h.productId, 4, 16, QLatin1Char('0'))
                    .arg(h.usagePage, 4, 16, QLatin1Char('0'))
                    .arg(h.usage, 4, 16, QLatin1Char('0'))
                    .arg(length, 6)
                    .arg(h.serialNumber.isEmpty() ? QStringLiteral("-")
                                                  : escapeControls(h.serialNumber),
                         -12)
                    .arg(escapeControls(h.path));
    }
    if (run.out.json()) {
        std::printf("%s\n", compactJson(QJsonDocument(array)).constData());
        return Success;
    }
    if (rows.isEmpty()) {
        run.out.say(QStringLiteral("No HID interfaces found."));
        return Success;
    }
    run.out.say(QStringLiteral("  %1  %2  REPORT  %3  PATH")
                    .arg(QStringLiteral("VID:PID"), -9)
                    .arg(QStringLiteral("USAGE"), -9)
                    .arg(QStringLiteral("SERIAL"), -12));
    for (const QString& row : rows)
        run.out.say(row);
    run.out.say(QStringLiteral("(* the accessory; REPORT: feature report length in bytes)"));
    return Success;
}

int checkCommand(Run& run, const QStringList& arguments) {
    const QString path = arguments.first();
    Failure failure;
    const File file = openFile(path, failure);
    if (!file)
        return run.fail(failure);
    const qint64 size = fileSize(file.get());
    run.facts.insert(QStringLiteral("file"), shownName(path));
    run.facts.insert(QStringLiteral("size"), size);
    run.out.say(QStringLiteral("File:               %1 (%2 bytes)").arg(shownName(path)).arg(size));
    if (size >= qint64(dfu::kSuffixLength)) {
        uint8_t suffix[dfu::kSuffixLength] = {};
        readAt(file.get(), size - qint64(dfu::kSuffixLength), suffix, sizeof suffix);
        const QString signature =
            QString::fromLatin1(reinterpret_cast<const char*>(suffix + dfu::kSuffixSignature),
                                int(dfu::kSuffixSignatureLength));
        const uint32_t found = dfu::le32(suffix + dfu::kSuffixCrc);
        const uint32_t computed = crcOf(file.get(), size - qint64(dfu::kSuffixCrcLength));
        const qint64 imageBytes = size - qint64(dfu::kSuffixLength);
        const uint32_t field = imageLengthField(file.get());
        const QJsonObject fields{
            {QStringLiteral("bcdDevice"), dfu::le16(suffix + dfu::kSuffixBcdDevice)},
            {QStringLiteral("idProduct"), dfu::le16(suffix + dfu::kSuffixIdProduct)},
            {QStringLiteral("idVendor"), dfu::le16(suffix + dfu::kSuffixIdVendor)},
            {QStringLiteral("bcdDFU"), dfu::le16(suffix + dfu::kSuffixBcdDfu)},
            {QStringLiteral("signature"), signature},
            {QStringLiteral("bLength"), suffix[dfu::kSuffixBLength]},
            {QStringLiteral("imageLengthField"), qint64(field)},
            {QStringLiteral("imageBytes"), imageBytes},
            {QStringLiteral("crcFound"), qint64(found)},
            {QStringLiteral("crcComputed"), qint64(computed)}};
        for (auto it = fields.begin(); it != fields.end(); ++it)
            run.facts.insert(it.key(), it.value());
        run.out.say(QStringLiteral("Suffix:             bcdDevice %1, idProduct %2, idVendor %3, "
                                   "bcdDFU %4, signature \"%5\", bLength %6")
                        .arg(hex(dfu::le16(suffix + dfu::kSuffixBcdDevice), 4),
                             hex(dfu::le16(suffix + dfu::kSuffixIdProduct), 4),
                             hex(dfu::le16(suffix + dfu::kSuffixIdVendor), 4),
                             hex(dfu::le16(suffix + dfu::kSuffixBcdDfu), 4), signature)
                        .arg(suffix[dfu::kSuffixBLength]));
        run.out.say(QStringLiteral("Image length field: %1 bytes").arg(field));
        run.out.say(QStringLiteral("Image bytes:        %1").arg(imageBytes));
        run.out.say(QStringLiteral("CRC:                found %1, computed %2")
                        .arg(hex(found, 8), hex(computed, 8)));
    }
    failure = checkDfuFile(file.get());
    if (failure.status != Success)
        return run.fail(failure);
    const QString ids = foreignIds(file.get());
    if (!ids.isEmpty())
        run.out.warn(QStringLiteral("Warning: the suffix names another product (%1); upgrade and "
                                    "verify refuse the file without --force")
                         .arg(ids));
    return run.succeed(QStringLiteral("Result:             valid (code 0)"));
}

int packCommand(Run& run, const QStringList& arguments) {
    std::vector<uint8_t> generated;
    File image;
    if (run.parser.isSet(kTestImage)) {
        bool ok = false;
        const uint length = run.parser.value(kTestImage).toUInt(&ok);
        if (!ok)
            return run.fail(
                {UsageError, 0, QStringLiteral("--test-image needs a byte count"), QString()});
        generated = dfu::makeImage(length);
        image.reset(::fmemopen(generated.data(), generated.size(), "rb"));
        if (!image)
            return run.fail({FileInvalid, CHidDfuErrorState::OutOfMemory,
                             codeText(CHidDfuErrorState::OutOfMemory), QString()});
    } else {
        Failure failure;
        image = openFile(arguments.value(0), failure);
        if (!image)
            return run.fail(failure);
        const qint64 size = fileSize(image.get());
        const uint32_t field = imageLengthField(image.get());
        if (qint64(field) != size && !run.parser.isSet(kForce))
            return run.fail(
                {FileInvalid, CHidDfuErrorState::InvalidFileFormat,
                 QStringLiteral("Image length field (%1) does not match the image size (%2)")
                     .arg(field)
                     .arg(size),
                 QStringLiteral("refused; --force packs it anyway")});
    }
    const QString outPath = arguments.last();
    uint32_t crc = 0;
    qint64 imageBytes = 0;
    const Failure failure = writeDfuFile(outPath, image.get(), crc, imageBytes);
    if (failure.status != Success)
        return run.fail(failure);
    run.facts.insert(QStringLiteral("file"), shownName(outPath));
    run.facts.insert(QStringLiteral("imageBytes"), imageBytes);
    run.facts.insert(QStringLiteral("crc"), qint64(crc));
    return run.succeed(QStringLiteral("Packed %1 image bytes into %2 (CRC %3)")
                           .arg(imageBytes)
                           .arg(shownName(outPath), hex(crc, 8)));
}

// ---------------------------------------------------------------------------
// Commands with a device.

// Starts a transfer and reports its progress until the engine says it ended.
// Ctrl+C does not stop it: the engine cannot stop mid-block without leaving
// the accessory half-written, so the transfer runs to its end first.
int32 transfer(Run& run, const QString& operation, int32 (*start)(const char*), const QString& path,
               qint64 total) {
    // Shutdown or sleep in the middle of a write would leave the accessory
    // half-written; the lock goes with this function's end.
    SessionInhibitor inhibitor(QCoreApplication::applicationName());
    if (start == hidDfuUpgrade)
        inhibitor.acquire(SessionInhibitor::Wait::Yes);
    const int32 started = start(nativeName(path).constData());
    if (started != 0)
        return started;
    run.out.beginTransfer(operation, total);
    bool told = false;
    for (uint8 percent = hidDfuGetProgress(); percent != 100; percent = hidDfuGetProgress()) {
        run.out.progress(percent);
        if (g_interrupted && !told) {
            run.out.warn(QStringLiteral("%1: the %2 is finishing; keep the accessory "
                                        "plugged in.")
                             .arg(interruptText(), operation));
            told = true;
        }
        QThread::msleep(kProgressPollMs);
    }
    run.out.endTransfer();
    return hidDfuGetResult();
}

// Runs a transfer to its end. False when it failed or a signal arrived
// meanwhile, with the status of the failure it reported: the steps after it
// are skipped.
bool transferred(Run& run, const QString& operation, int32 (*start)(const char*),
                 const QString& path, qint64 total, int& status) {
    const int32 code = transfer(run, operation, start, path, total);
    if (g_interrupted) {
        status = run.failInterrupted(code);
        return false;
    }
    if (code != 0) {
        status = run.failEngine(code);
        return false;
    }
    return true;
}

// The offset of the first byte where the file's first `length` bytes and the
// `count` bytes at `actual` differ (the shorter length when one is the other's
// start), the file's byte there in fileByte.
qint64 firstDifference(std::FILE* file, qint64 length, const uint8_t* actual, qint64 count,
                       uint8_t& fileByte) {
    std::vector<uint8_t> piece(64 * 1024);
    const qint64 common = std::min(length, count);
    std::rewind(file);
    for (qint64 offset = 0; offset < common;) {
        const std::size_t want =
            std::size_t(std::min<qint64>(common - offset, qint64(piece.size())));
        // The file was checked to hold its image; bytes it no longer holds differ.
        const std::size_t got = std::fread(piece.data(), 1, want, file);
        const auto at = std::mismatch(piece.begin(), piece.begin() + long(got), actual + offset);
        if (at.first != piece.begin() + long(got) || got < want) {
            fileByte = at.first != piece.begin() + long(got) ? *at.first : 0;
            return offset + (at.first - piece.begin());
        }
        offset += qint64(want);
    }
    return common;
}

// Reads the firmware back and compares it with the file's image.
int readBackAndCompare(Run& run, const QString& path, bool& matched) {
    matched = false;
    Failure failure;
    const File file = openFile(path, failure);
    if (!file)
        return run.fail(failure);
    // The bytes an upgrade sends; the file check has made sure it holds them.
    const qint64 expected = imageLengthField(file.get());
    // Into memory, as much as the accessory sends back.
    int status = Success;
    if (!transferred(
            run, QStringLiteral("read"), [](const char*) { return hidDfuReadBack(); }, QString(),
            -1, status))
        return status;
    uint64_t length = 0;
    const uint8_t* back = hidDfuGetReadBack(&length);
    const qint64 actual = std::max<qint64>(qint64(length) - qint64(dfu::kSuffixLength), 0);
    uint8_t fileByte = 0;
    const qint64 offset = firstDifference(file.get(), expected, back, actual, fileByte);
    if (offset == expected && offset == actual) {
        matched = true;
        return Success;
    }
    run.facts.insert(QStringLiteral("offset"), offset);
    QString detail = QStringLiteral("the firmware read back differs from %1 at offset %2 (%3)")
                         .arg(shownName(path))
                         .arg(offset)
                         .arg(hex(uint32_t(offset), 1));
    if (offset < expected && offset < actual)
        detail += QStringLiteral(": file %1, accessory %2")
                      .arg(hex(fileByte, 2), hex(back[std::size_t(offset)], 2));
    else
        detail += QStringLiteral(": the file's image has %1 bytes, the accessory's %2")
                      .arg(expected)
                      .arg(actual);
    return run.fail({VerifyMismatch, 0, QStringLiteral("Verify mismatch"), detail});
}

int upgradeCommand(Run& run, const QStringList& arguments) {
    const QString path = arguments.value(0);
    Failure failure;
    const File file = openFile(path, failure);
    if (!file)
        return run.fail(failure);
    int status = Success;
    if (!transferred(run, QStringLiteral("write"), hidDfuUpgrade, path,
                     imageLengthField(file.get()), status))
        return status;
    QString done = QStringLiteral("Upgraded with %1").arg(shownName(path));
    if (run.parser.isSet(kVerify)) {
        bool matched = false;
        status = readBackAndCompare(run, path, matched);
        if (!matched)
            return status;
        done += QStringLiteral(", verified");
    }
    if (!run.parser.isSet(kNoReset)) {
        const int32 reset = hidDfuReset();
        if (reset != 0)
            return run.failEngine(reset, QStringLiteral("written, but the reset failed"));
        done += QStringLiteral(", reset");
    } else {
        done += QStringLiteral(", left in update mode");
    }
    return run.succeed(done);
}

int backupCommand(Run& run, const QStringList& arguments) {
    const QString path = arguments.value(0);
    int status = Success;
    if (!transferred(run, QStringLiteral("read"), hidDfuBackup, path, -1, status))
        return status;
    struct stat info {};
    ::stat(nativeName(path).constData(), &info);
    const qint64 imageBytes = qint64(info.st_size) - qint64(dfu::kSuffixLength);
    run.facts.insert(QStringLiteral("file"), shownName(path));
    run.facts.insert(QStringLiteral("imageBytes"), imageBytes);
    return run.succeed(
        QStringLiteral("Backed up %1 image bytes into %2").arg(imageBytes).arg(shownName(path)));
}

int verifyCommand(Run& run, const QStringList& arguments) {
    const QString path = arguments.value(0);
    bool matched = false;
    const int status = readBackAndCompare(run, path, matched);
    return matched ? run.succeed(
                         QStringLiteral("Verified: the accessory holds %1").arg(shownName(path)))
                   : status;
}

int resetCommand(Run& run, const QStringList&) {
    const int32 code = hidDfuReset();
    return code ? run.failEngine(code) : run.succeed(QStringLiteral("Reset"));
}

// The accessories the command line chose, waiting for them with --wait.
// False when interrupted while waiting.
bool chosenAccessories(Run& run, QVector<HidInterface>& chosen, double waitSeconds) {
    QElapsedTimer clock;
    clock.start();
    bool told = false;
    for (;;) {
        chosen.clear();
        for (const HidInterface& h : enumerateHid()) {
            if (h.isAccessory() &&
                (!run.parser.isSet(kPath) || h.path == run.parser.value(kPath)) &&
                (!run.parser.isSet(kSerial) || h.serialNumber == run.parser.value(kSerial)))
                chosen.push_back(h);
        }
        if (!chosen.isEmpty() || double(clock.elapsed()) >= waitSeconds * 1000.0)
            return true;
        if (g_interrupted)
            return false;
        if (!told)
            run.out.say(QStringLiteral("Waiting up to %1 s for the accessory...").arg(waitSeconds));
        told = true;
        QThread::msleep(kWaitPollMs);
    }
}

QString describe(const QCommandLineParser& parser) {
    if (parser.isSet(kPath))
        return QStringLiteral("no accessory at %1").arg(parser.value(kPath));
    if (parser.isSet(kSerial))
        return QStringLiteral("no accessory with serial number \"%1\"").arg(parser.value(kSerial));
    return QStringLiteral("no accessory found");
}

// --all: this process stays the parent and runs the same command once per
// accessory in a child, each choosing its accessory by serial number when
// every serial number is distinct, else by path.
int allCommand(Run& run, const QVector<HidInterface>& accessories, const QString& file) {
    QSet<QString> serials;
    for (const HidInterface& h : accessories)
        serials.insert(h.serialNumber);
    const bool bySerial = !serials.contains(QString()) && serials.size() == accessories.size();
    QVector<StationJob> jobs;
    for (const HidInterface& h : accessories) {
        QStringList arguments{QLatin1String(run.command.name), QStringLiteral("--json")};
        for (const QCommandLineOption* flag : {&kVerify, &kNoReset, &kForce}) {
            if (run.parser.isSet(*flag))
                arguments << QStringLiteral("--") + flag->names().first();
        }
        arguments << backendChildArguments(run.parser);
        arguments << (bySerial ? QStringLiteral("--serial") : QStringLiteral("--path"))
                  << (bySerial ? h.serialNumber : h.path) << QStringLiteral("--file-bytes")
                  << QString::fromLatin1(nativeName(file).toPercentEncoding("/"));
        jobs.push_back({h.path, h.serialNumber, arguments});
    }
    return runStation(run.out, QLatin1String(run.command.name), jobs);
}

int deviceCommand(Run& run, const QStringList& arguments) {
    const QString file = arguments.value(0);
    if (run.command.needs & kFile) {
        Failure failure;
        const File opened = openFile(file, failure);
        if (opened)
            failure = checkDfuFile(opened.get());
        const QString ids =
            opened && !run.parser.isSet(kForce) ? foreignIds(opened.get()) : QString();
        if (failure.status == Success && !ids.isEmpty())
            failure = {FileInvalid, CHidDfuErrorState::InvalidFileFormat,
                       QStringLiteral("File is for another product: %1 (the accessory is "
                                      "idVendor 0x0a12, idProduct 0xfffe)")
                           .arg(ids),
                       QStringLiteral("refused; --force uses it anyway")};
        if (failure.status != Success)
            return run.fail(failure);
    }
    double waitSeconds = 0;
    if (run.parser.isSet(kWait)) {
        bool ok = false;
        waitSeconds = run.parser.value(kWait).toDouble(&ok);
        if (!ok || !std::isfinite(waitSeconds) || waitSeconds < 0)
            return run.fail(
                {UsageError, 0, QStringLiteral("--wait needs a number of seconds"), QString()});
    }
    QVector<HidInterface> chosen;
    if (!chosenAccessories(run, chosen, waitSeconds))
        return run.fail({interruptStatus(), 0, interruptText(),
                         QStringLiteral("while waiting for the accessory")});
    if (chosen.isEmpty())
        return run.fail({NoDevice, CHidDfuErrorState::FailedToConnect,
                         codeText(CHidDfuErrorState::FailedToConnect), describe(run.parser)});
    if (run.parser.isSet(kAll))
        return allCommand(run, chosen, file);

    const HidInterface& accessory = chosen.first();
    // Without a choice, the first match, as the wizard connects.
    const int32 code = run.parser.isSet(kPath) || run.parser.isSet(kSerial)
                           ? hidDfuConnectPath(kVendorId, kProductId,
                                               QFile::encodeName(accessory.path).constData())
                           : hidDfuConnect(kVendorId, kProductId, 0, 0);
    run.facts.insert(QStringLiteral("path"), accessory.path);
    run.facts.insert(QStringLiteral("serial"), accessory.serialNumber);
    if (code != 0)
        return run.failEngine(code, QStringLiteral("cannot open %1").arg(accessory.path));
    const int status = run.command.run(run, arguments);
    hidDfuDisconnect();
    return status;
}

// ---------------------------------------------------------------------------
// The command line.

const Command kCommands[] = {
    {"list", "", "List every HID interface; the accessory is marked.", {}, kBackend, listCommand},
    {"check", "FILE", "Check a DFU file: suffix, image length and CRC.", {}, kNone, checkCommand},
    {"pack",
     "IMAGE OUT",
     "Wrap a raw firmware image into a DFU file.",
     {kForce, kTestImage},
     kNone,
     packCommand},
    {"upgrade",
     "FILE",
     "Write a DFU file to the accessory, then reset it.",
     {kVerify, kNoReset},
     kDevice | kFile | kAllowAll | kBackend,
     upgradeCommand},
    {"backup",
     "FILE",
     "Read the accessory's firmware into a DFU file.",
     {},
     kDevice | kBackend,
     backupCommand},
    {"verify",
     "FILE",
     "Read the firmware back and compare it with a DFU file.",
     {},
     kDevice | kFile | kAllowAll | kBackend,
     verifyCommand},
    {"reset", "", "Restart the accessory.", {}, kDevice | kBackend, resetCommand},
};

const Command* findCommand(const QString& name) {
    for (const Command& c : kCommands) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

QString generalHelp(const QString& program) {
    QString text = QStringLiteral("Usage: %1 COMMAND [options] [arguments]\n"
                                  "Firmware tool for the TAVRIN accessory (USB %2:%3).\n\n"
                                  "Commands:\n")
                       .arg(program)
                       .arg(kVendorId, 4, 16, QLatin1Char('0'))
                       .arg(kProductId, 4, 16, QLatin1Char('0'));
    for (const Command& c : kCommands)
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(c.name), -8).arg(c.summary);
    text += QStringLiteral("\n'%1 COMMAND --help' shows a command's options; --version the "
                           "version.\n\n")
                .arg(program);
    return text + QLatin1String(exitStatusHelp());
}

QList<QCommandLineOption> optionsOf(const Command& c) {
    QList<QCommandLineOption> options{kJson};
    if (c.needs & kDevice)
        options << kPath << kSerial << kWait;
    if (c.needs & kAllowAll)
        options << kAll << kFileBytes;
    if (c.needs & kFile)
        options << kForce;
    options << c.options;
    if (c.needs & kBackend)
        options << backendOptions();
    return options;
}

QStringList synopsisArguments(const Command& c) {
    return QString::fromLatin1(c.synopsis).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Routes the engine's message log to standard error only when asked: its
// device list on every connect is noise for people and breaks nothing for
// scripts, which read standard output.
void quietMessageLog(QtMsgType type, const QMessageLogContext&, const QString& text) {
    static const bool verbose = qEnvironmentVariableIsSet("TAVRIN_DFU_VERBOSE");
    // Except why the accessory could not be opened, with the udev rule's name.
    if (verbose || type == QtCriticalMsg || type == QtFatalMsg ||
        text.startsWith(QLatin1String("Cannot open")))
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

int usageError(const QString& text) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", qPrintable(Report::programName()),
                 qPrintable(text), qPrintable(Report::programName()));
    return UsageError;
}

} // namespace

bool interrupted() {
    return g_interrupted != 0;
}

int interruptSignal() {
    return g_interrupted;
}

ExitStatus interruptStatus() {
    return ExitStatus(128 + g_interrupted);
}

QString interruptText() {
    return g_interrupted == SIGTERM  ? QStringLiteral("Terminated")
           : g_interrupted == SIGHUP ? QStringLiteral("Hung up")
                                     : QStringLiteral("Interrupted");
}

void installInterruptHandler() {
    // A logout or a service manager stops a program this way: a transfer cut
    // mid-block leaves the accessory half-written, so they wait as Ctrl+C does.
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A reader that went away (| head -1) is no reason to stop writing
    // firmware: writes to it fail instead, and the run goes on.
    action.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &action, nullptr);
}

int run(const QStringList& arguments) {
    qInstallMessageHandler(quietMessageLog);
    const QString program = Report::programName();

    // First pass with every option known, only to find the command.
    QCommandLineParser probe;
    QList<QCommandLineOption> every{kJson,   kPath,    kSerial, kWait,      kAll,
                                    kVerify, kNoReset, kForce,  kTestImage, kFileBytes};
    every << backendOptions();
    probe.addOptions(every);
    const QCommandLineOption help = probe.addHelpOption();
    const QCommandLineOption version = probe.addVersionOption();
    probe.parse(arguments);
    const QString name = probe.positionalArguments().value(0);
    const Command* command = findCommand(name);
    if (!command) {
        if (probe.isSet(version)) {
            std::printf("%s %s\n", qPrintable(program),
                        qPrintable(QCoreApplication::applicationVersion()));
            return Success;
        }
        if (probe.isSet(help)) {
            std::printf("%s", qPrintable(generalHelp(program)));
            return Success;
        }
        return usageError(name.isEmpty() ? QStringLiteral("no command given")
                                         : QStringLiteral("unknown command \"%1\"").arg(name));
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(command->summary));
    parser.addOptions(optionsOf(*command));
    parser.addHelpOption();
    parser.addPositionalArgument(QLatin1String(command->name), QString());
    for (const QString& argument : synopsisArguments(*command))
        parser.addPositionalArgument(argument, QString());
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s\n%s", qPrintable(parser.helpText()), exitStatusHelp());
        return Success;
    }

    Run run(*command, parser);
    QStringList positional = parser.positionalArguments().mid(1);
    if (parser.isSet(kFileBytes))
        positional << decodeArguments(
            {QByteArray::fromPercentEncoding(parser.value(kFileBytes).toLatin1())});
    int wanted = synopsisArguments(*command).size();
    if (parser.isSet(kTestImage))
        wanted = 1;
    if (positional.size() != wanted)
        return usageError(QStringLiteral("%1 takes %2 argument(s): %3")
                              .arg(command->name)
                              .arg(wanted)
                              .arg(parser.isSet(kTestImage) ? QStringLiteral("OUT")
                                                            : QLatin1String(command->synopsis)));
    if (parser.isSet(kAll) && (parser.isSet(kPath) || parser.isSet(kSerial)))
        return usageError(
            QStringLiteral("--all chooses every accessory; drop --path and --serial"));
    if (command->needs & kBackend) {
        QString error;
        if (!prepareBackend(parser, error))
            return usageError(error);
    }

    return command->needs & kDevice ? deviceCommand(run, positional)
                                    : command->run(run, positional);
}

} // namespace cli
