#include "clibackend.h"
#include "commands.h"
#include "exitstatus.h"
#include "firmware_files.h"

namespace cli {

namespace {

// How the parent of --all hands each child its file: a child's arguments
// pass through the locale's encoding, which loses a byte that does not decode.
QCommandLineOption fileBytesOption() {
    QCommandLineOption option(QStringLiteral("file-bytes"),
                              QStringLiteral("FILE as percent-encoded bytes (for --all)."),
                              QStringLiteral("bytes"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}

} // namespace

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
                                               "product; pack or backup over an existing "
                                               "file."));
const QCommandLineOption kTestImage(QStringLiteral("test-image"),
                                    QStringLiteral("Pack a generated test image of this many "
                                                   "bytes instead of reading IMAGE."),
                                    QStringLiteral("length"));
const QCommandLineOption kRelease(QStringLiteral("release"),
                                  QStringLiteral("The version the packed firmware states in its "
                                                 "suffix (bcdDevice), MAJOR.MINOR.PATCH: MAJOR "
                                                 "0-99, MINOR and PATCH 0-9."),
                                  QStringLiteral("version"));
const QCommandLineOption
    kNoProgress(QStringLiteral("no-progress"),
                QStringLiteral("Print no progress while a transfer runs (no updating line, no "
                               "progress lines, no JSON progress events)."));
const QCommandLineOption kFileBytes = fileBytesOption();
const QCommandLineOption
    kNewerOnly(QStringLiteral("newer-only"),
               QStringLiteral("Refuse (exit status 7) a file that is not newer than the "
                              "accessory's firmware, or when either does not state its version."));

namespace {

// In the order of the general help. The rows copy options, which must exist
// first: in one file, objects of static storage are built in the order they
// are defined.
const Command kCommands[] = {
    {"list", "", "List every HID interface; the accessory is marked.", {}, kBackend, listCommand},
    {"check", "FILE", "Check a DFU file: suffix, image length and CRC.", {}, kNone, checkCommand},
    {"pack",
     "IMAGE OUT",
     "Wrap a raw firmware image into a DFU file.",
     {kForce, kTestImage, kRelease},
     kNone,
     packCommand},
    {"upgrade",
     "FILE",
     "Write a DFU file to the accessory, then reset it.",
     {kVerify, kNoReset, kNewerOnly, kNoProgress},
     kDevice | kFile | kAllowAll | kBackend,
     upgradeCommand},
    {"backup",
     "FILE",
     "Read the accessory's firmware into a DFU file.",
     {kForce, kNoProgress},
     kDevice | kBackend,
     backupCommand},
    {"verify",
     "FILE",
     "Read the firmware back and compare it with a DFU file.",
     {kNoProgress},
     kDevice | kFile | kAllowAll | kBackend,
     verifyCommand},
    {"reset", "", "Restart the accessory.", {}, kDevice | kBackend, resetCommand},
};

} // namespace

QList<const Command*> everyCommand() {
    QList<const Command*> every;
    for (const Command& c : kCommands)
        every << &c;
    return every;
}

const Command* findCommand(const QString& name) {
    for (const Command* c : everyCommand()) {
        if (name == QLatin1String(c->name))
            return c;
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
    for (const Command* c : everyCommand())
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(c->name), -8).arg(c->summary);
    text += QStringLiteral("\n'%1 COMMAND --help' shows a command's options; --version the "
                           "version.\n\n")
                .arg(program);
    return text + QLatin1String(exitStatusHelp());
}

QList<QCommandLineOption> everyOption() {
    QList<QCommandLineOption> every{kJson,      kPath,      kSerial,    kWait,      kAll,
                                    kVerify,    kNoReset,   kForce,     kTestImage, kRelease,
                                    kFileBytes, kNewerOnly, kNoProgress};
    return every << backendOptions();
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

} // namespace cli
