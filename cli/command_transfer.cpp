#include "arguments.h"
#include "commands.h"
#include "dfufile.h"
#include "files.h"
#include "firmware_files.h"
#include "flasher.h"
#include "hiddfu.h"
#include "output.h"
#include "sessioninhibitor.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

// None of these opens or closes the accessory: runOnAccessory does, around
// them.
namespace cli {

namespace {

// How often the engine's progress is looked at.
constexpr unsigned long kProgressPollMs = 50;

// Starts a transfer and reports its progress until the engine says it ended.
// Ctrl+C does not stop it: the engine cannot stop mid-block without leaving
// the accessory half-written, so the transfer runs to its end first.
// The start function calls the engine; writes says whether it writes.
using Start = std::function<int32()>;
enum class Writes { No, Yes };

int32 transfer(Run& run, const QString& operation, const Start& start, Writes writes,
               qint64 total) {
    // Shutdown or sleep in the middle of a write would leave the accessory
    // half-written; the lock goes with this function's end.
    SessionInhibitor inhibitor(QCoreApplication::applicationName());
    if (writes == Writes::Yes)
        inhibitor.acquire(SessionInhibitor::Wait::Yes);
    const int32 started = start();
    if (started != 0)
        return started;
    run.out.beginTransfer(operation, total);
    bool told = false;
    bool toldAgain = false;
    for (uint8 percent = hidDfuGetProgress(); percent != kHidDfuNothingRunning;
         percent = hidDfuGetProgress()) {
        run.out.progress(percent);
        if (interrupted() && !told) {
            run.out.warn(QStringLiteral("%1: the %2 is finishing; keep the accessory "
                                        "plugged in.")
                             .arg(interruptText(), operation));
            told = true;
        }
        if (interruptedAgain() && !toldAgain) {
            run.out.warn(QStringLiteral("%1 again: a %2 cannot be cut safely; it ends by itself "
                                        "in a moment.")
                             .arg(interruptText(), operation));
            toldAgain = true;
        }
        QThread::msleep(kProgressPollMs);
    }
    const int32 result = hidDfuGetResult();
    run.out.endTransfer(result == 0);
    return result;
}

// What an upgrade that a signal stopped after its write leaves behind.
QString leftAfterWrite(Run& run, const QString& completed, const QString& skipped) {
    QString text = completed + QStringLiteral(" completed");
    if (!run.parser.isSet(kNoReset))
        return text + QStringLiteral("; %1 skipped: the accessory stays in update mode: run "
                                     "`tavrin-dfu reset`")
                          .arg(skipped);
    return text + QStringLiteral("; the accessory stays in update mode (--no-reset)");
}

// Runs a transfer to its end. False when it failed or a signal arrived
// meanwhile, with the status of the failure it reported: the steps after it
// are skipped, which leftIn tells.
bool transferred(Run& run, const QString& operation, const Start& start, Writes writes,
                 qint64 total, int& status, const QString& leftIn) {
    const int32 code = transfer(run, operation, start, writes, total);
    if (interrupted()) {
        // --all counts an accessory written before the signal as written.
        if (run.writeCompleted)
            run.facts.insert(QStringLiteral("writeCompleted"), true);
        status = run.failInterrupted(code, leftIn);
        return false;
    }
    if (code != 0) {
        status = run.failEngine(code, writes == Writes::Yes ? afterFailedWrite(code) : QString());
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

// Reads the firmware back and compares it with the image of the file's
// bytes as read before anything else.
int readBackAndCompare(Run& run, const QString& path, bool& matched) {
    matched = false;
    std::FILE* const file = run.imageFile.get();
    // The bytes an upgrade sends; the file check has made sure it holds them.
    const qint64 expected = imageLengthField(file);
    // Stays so unless the comparison is reached.
    run.facts.insert(QStringLiteral("verify"), QStringLiteral("incomplete"));
    // Into memory, as much as the accessory sends back.
    int status = Success;
    const QString leftIn =
        run.writeCompleted ? leftAfterWrite(run, QStringLiteral("the write and the read-back"),
                                            QStringLiteral("the comparison and the reset were"))
                           : QStringLiteral("the read-back completed; the comparison was skipped");
    if (!transferred(run, QStringLiteral("read"), hidDfuReadBack, Writes::No,
                     expected + qint64(dfu::kSuffixLength), status, leftIn))
        return status;
    uint64_t length = 0;
    const uint8_t* back = hidDfuGetReadBack(&length);
    const qint64 actual = std::max<qint64>(qint64(length) - qint64(dfu::kSuffixLength), 0);
    uint8_t fileByte = 0;
    const qint64 offset = firstDifference(file, expected, back, actual, fileByte);
    matched = offset == expected && offset == actual;
    run.facts.insert(QStringLiteral("verify"),
                     matched ? QStringLiteral("matched") : QStringLiteral("mismatch"));
    if (matched)
        return Success;
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
} // namespace

int upgradeCommand(Run& run, const QStringList& arguments) {
    const QString path = arguments.value(0);
    std::FILE* const file = run.imageFile.get();
    uint16_t fileBcd = 0;
    const bool fileStates = fileVersion(file, &fileBcd).isString();
    const bool deviceStates = deviceVersion(run.deviceRelease).isString();
    const QString versions =
        QStringLiteral("the file's firmware is %1, the accessory's %2")
            .arg(versionShown(fileVersion(file)), versionShown(deviceVersion(run.deviceRelease)));
    // BCD digits compare as the number they make; a number that is not BCD
    // states nothing to compare.
    const bool notNewer = fileStates && deviceStates && fileBcd <= run.deviceRelease;
    if (run.parser.isSet(kNewerOnly) && (notNewer || !fileStates || !deviceStates))
        return run.fail({NotNewer, 0, QStringLiteral("Not newer"),
                         versions + QStringLiteral("; --newer-only refuses it")});
    if (notNewer)
        run.out.warn(QStringLiteral("Warning: %1: not newer; upgrading anyway").arg(versions));
    int status = Success;
    const QString leftIn =
        run.parser.isSet(kVerify)
            ? leftAfterWrite(run, QStringLiteral("the write"),
                             QStringLiteral("the read-back and the reset were"))
            : leftAfterWrite(run, QStringLiteral("the write"), QStringLiteral("the reset was"));
    const Start write = [&run] {
        return hidDfuUpgradeImage(run.image.data(), uint64_t(run.image.size()));
    };
    if (!transferred(run, QStringLiteral("write"), write, Writes::Yes, imageLengthField(file),
                     status, leftIn))
        return status;
    run.writeCompleted = true;
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
    if (!run.parser.isSet(kForce)) {
        const Failure existing = refuseExisting(path);
        if (existing.status != Success)
            return run.fail(existing);
    }
    int status = Success;
    const QByteArray name = nativeName(path);
    const Start read = [&name] { return hidDfuBackup(name.constData()); };
    if (!transferred(run, QStringLiteral("read"), read, Writes::No, -1, status,
                     QStringLiteral("the backup completed into %1").arg(shownName(path))))
        return status;
    qint64 fileBytes = 0;
    platform::regularFile(nativeName(path).toStdString(), &fileBytes);
    const qint64 imageBytes = fileBytes - qint64(dfu::kSuffixLength);
    run.setFile(path);
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

} // namespace cli
