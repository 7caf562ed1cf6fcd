#include "commands.h"
#include "dfufile.h"
#include "firmware_files.h"
#include "flasher.h"
#include "hid_interfaces.h"
#include "hiddfu.h"
#include "memoryfile.h"
#include "output.h"
#include "textvariant.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cmath>
#include <cstring>

namespace cli {

namespace {

// How often the bus is looked at while waiting for the accessory.
constexpr unsigned long kWaitPollMs = 200;

// What the advice adds after "check the cable" on a system whose tools it
// names, by the name platform::textVariant() gives; a system not listed is
// given the advice that names none.
struct AccessAdvice {
    const char* variant;
    const char* advice;
};
const AccessAdvice kAccessAdvice[] = {
    {"linux", ", and on Linux the udev rule (man tavrin-dfu)"},
    {"windows", ", and that no other program holds the accessory"},
};

const char* accessAdvice() {
    for (const AccessAdvice& row : kAccessAdvice)
        if (std::strcmp(row.variant, platform::textVariant()) == 0)
            return row.advice;
    return "";
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
        if (interrupted())
            return false;
        if (!told)
            run.out.say(QStringLiteral("Waiting up to %1 s for the accessory...").arg(waitSeconds));
        told = true;
        QThread::msleep(kWaitPollMs);
    }
}

// What was not found, and where the station's engineer looks next.
QString describe(const QCommandLineParser& parser) {
    const QString advice = QStringLiteral(": check the cable, run `tavrin-dfu list`") +
                           QString::fromUtf8(accessAdvice());
    if (parser.isSet(kPath))
        return QStringLiteral("no accessory at %1").arg(parser.value(kPath)) + advice;
    if (parser.isSet(kSerial))
        return QStringLiteral("no accessory with serial number \"%1\"").arg(parser.value(kSerial)) +
               advice;
    return QStringLiteral("no accessory found") + advice;
}

// The engine's text names the program holding the accessory; a path adds
// nothing to it. Otherwise the system's reason the open failed, as the
// engine's advice line words it.
QString openFailureDetail(const QString& path) {
    const char* reason = "";
    const int32 cause = hidDfuGetConnectFailure(&reason);
    if (cause == HidDfuConnectFailure::InUse)
        return QString();
    const QString detail = QStringLiteral("cannot open %1").arg(path);
    if (cause != HidDfuConnectFailure::CannotOpen)
        return detail;
    return detail + QStringLiteral(": ") +
           (*reason ? QString::fromLocal8Bit(reason) : QStringLiteral("reason unknown"));
}

// What a station log keeps of the checked file, from the bytes read once:
// which file it was, what its image sends, and whether it is a release.
void recordImage(Run& run) {
    const uint8_t* crc = run.image.data() + run.image.size() - dfu::kSuffixCrcLength;
    run.facts.insert(QStringLiteral("size"), qint64(run.image.size()));
    run.facts.insert(QStringLiteral("crc"), hex(dfu::le32(crc), 8));
    run.facts.insert(QStringLiteral("imageLengthField"),
                     qint64(imageLengthField(run.imageFile.get())));
    run.facts.insert(QStringLiteral("testImage"), isTestImage(run.imageFile.get()));
    // Until a read-back starts (readBackAndCompare).
    run.facts.insert(QStringLiteral("verify"), QStringLiteral("not run"));
}

} // namespace

int runOnAccessory(Run& run, const QStringList& arguments) {
    const QString file = arguments.value(0);
    if (run.command.needs & kFile) {
        run.setFile(file);
        Failure failure;
        const File opened = openFile(file, failure);
        if (opened) {
            failure = readImage(opened.get(), run.image);
            run.imageFile.reset(failure.status == Success ? platform::openBytes(run.image)
                                                          : nullptr);
            if (failure.status == Success && !run.imageFile)
                failure = {FileInvalid, HidDfuResult::OutOfMemory,
                           codeText(HidDfuResult::OutOfMemory), QString()};
        }
        if (run.imageFile) {
            failure = checkDfuFile(run.imageFile.get());
            run.facts.insert(QStringLiteral("fileVersion"), fileVersion(run.imageFile.get()));
        }
        const QString ids = run.imageFile && !run.parser.isSet(kForce)
                                ? foreignIds(run.imageFile.get())
                                : QString();
        if (failure.status == Success && !ids.isEmpty())
            failure = {FileInvalid, HidDfuResult::InvalidFileFormat,
                       QStringLiteral("File is for another product: %1 (the accessory is "
                                      "idVendor %2, idProduct %3)")
                           .arg(ids, hex(kVendorId, 4), hex(kProductId, 4)),
                       QStringLiteral("refused; --force uses it anyway")};
        if (failure.status != Success)
            return run.fail(failure);
        recordImage(run);
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
    if (chosen.isEmpty()) {
        if (const QString why = hidSystemFailure(); !why.isEmpty())
            return run.fail({NoDevice, HidDfuResult::FailedToConnect,
                             codeText(HidDfuResult::FailedToConnect),
                             QStringLiteral("the system's HID layer did not start: ") + why});
        return run.fail({NoDevice, HidDfuResult::FailedToConnect,
                         codeText(HidDfuResult::FailedToConnect), describe(run.parser)});
    }
    if (run.parser.isSet(kAll))
        return allCommand(run, chosen, file);
    // Picking one of several for the station would flash whichever the bus
    // lists first.
    if (chosen.size() > 1 && !run.parser.isSet(kPath) && !run.parser.isSet(kSerial))
        return run.fail({UsageError, 0,
                         QStringLiteral("%1 accessories attached: choose one with --serial or "
                                        "--path (see list), or use --all")
                             .arg(chosen.size()),
                         QString()});
    // A serial number is the maker's to give, and clones share one: the
    // station must not write whichever of them the bus lists first.
    if (chosen.size() > 1 && run.parser.isSet(kSerial))
        return run.fail({UsageError, 0,
                         QStringLiteral("%1 accessories have serial number \"%2\": choose one "
                                        "with --path (see list)")
                             .arg(chosen.size())
                             .arg(escapeControls(run.parser.value(kSerial))),
                         QString()});

    const HidInterface& accessory = chosen.first();
    // Without a choice, the only match, as the wizard connects.
    const int32 code = run.parser.isSet(kPath) || run.parser.isSet(kSerial)
                           ? hidDfuConnectPath(kVendorId, kProductId,
                                               QFile::encodeName(accessory.path).constData())
                           : hidDfuConnect(kVendorId, kProductId, 0, 0);
    run.facts.insert(QStringLiteral("path"), accessory.path);
    run.facts.insert(QStringLiteral("serial"), accessory.serialNumber);
    run.facts.insert(QStringLiteral("deviceVersion"), deviceVersion(accessory.releaseNumber));
    run.deviceRelease = accessory.releaseNumber;
    if (code != 0)
        return run.failEngine(code, openFailureDetail(accessory.path));
    const int status = run.command.run(run, arguments);
    hidDfuDisconnect();
    return status;
}

} // namespace cli
