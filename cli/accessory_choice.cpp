#include "chiddfuerrorstate.h"
#include "commands.h"
#include "dfufiles.h"
#include "flasher.h"
#include "hid_interfaces.h"
#include "hiddfu.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cmath>

namespace cli {

namespace {

// How often the bus is looked at while waiting for the accessory.
constexpr unsigned long kWaitPollMs = 200;

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

QString describe(const QCommandLineParser& parser) {
    if (parser.isSet(kPath))
        return QStringLiteral("no accessory at %1").arg(parser.value(kPath));
    if (parser.isSet(kSerial))
        return QStringLiteral("no accessory with serial number \"%1\"").arg(parser.value(kSerial));
    return QStringLiteral("no accessory found");
}

} // namespace

int runOnAccessory(Run& run, const QStringList& arguments) {
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
                                      "idVendor %2, idProduct %3)")
                           .arg(ids, hex(kVendorId, 4), hex(kProductId, 4)),
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

} // namespace cli
