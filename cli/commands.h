#pragma once
// The flasher's commands: one row each in the command table, one function
// each. A function gets the command line and the report of its Run and
// returns the exit status (exitstatus.h).

#include "firmware_files.h"
#include "report.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <vector>

namespace cli {

// The options; a command offers those of its needs and its own (optionsOf).
extern const QCommandLineOption kJson;
extern const QCommandLineOption kPath;
extern const QCommandLineOption kSerial;
extern const QCommandLineOption kWait;
extern const QCommandLineOption kAll;
extern const QCommandLineOption kVerify;
extern const QCommandLineOption kNoReset;
extern const QCommandLineOption kForce;
extern const QCommandLineOption kTestImage;
extern const QCommandLineOption kRelease;
extern const QCommandLineOption kNoProgress;
extern const QCommandLineOption kFileBytes;
extern const QCommandLineOption kNewerOnly;

// What a command needs before it runs; each need brings its options.
enum Needs { kNone = 0, kDevice = 1, kFile = 2, kAllowAll = 4, kBackend = 8 };

class Run;
struct HidInterface;

struct Command {
    const char* name;
    const char* synopsis; // positional arguments
    const char* summary;
    // Its own options, after those its needs bring.
    QList<QCommandLineOption> options;
    int needs;
    // With kDevice, runs once the accessory is open (runOnAccessory).
    int (*run)(Run& run, const QStringList& arguments);
};

// Every row, in the order of the general help.
QList<const Command*> everyCommand();
// The row of a command name; null for a name that is none.
const Command* findCommand(const QString& name);
// Every option of every command, once each: enough to find the command.
QList<QCommandLineOption> everyOption();
QList<QCommandLineOption> optionsOf(const Command& command);
// The synopsis as argument names: "IMAGE OUT" gives IMAGE and OUT.
QStringList synopsisArguments(const Command& command);
// The help without a command: the table's names and summaries.
QString generalHelp(const QString& program);

// A command's run: its command line and its report.
class Run : public Report {
public:
    Run(const Command& command, QCommandLineParser& parser)
        : Report(QLatin1String(command.name), Output::modeFor(parser.isSet(kJson))),
          command(command), parser(parser) {
        // By name: isSet on a command without the option would log that
        // the option is not defined.
        if (parser.optionNames().contains(kNoProgress.names().constFirst()))
            out.hideProgress();
    }

    const Command& command;
    QCommandLineParser& parser;
    // The chosen accessory's USB release number, 0 when it states none.
    uint16_t deviceRelease = 0;
    // The write ended well before any signal: what follows it may be cut.
    bool writeCompleted = false;
    // A kFile command's file, read once before anything else: the bytes
    // checked are the bytes written and compared, whatever happens to the
    // file meanwhile (--wait gives it time to). imageFile reads image.
    std::vector<uint8_t> image;
    File imageFile;
};

// The rows' functions.
int listCommand(Run& run, const QStringList& arguments);
int checkCommand(Run& run, const QStringList& arguments);
int packCommand(Run& run, const QStringList& arguments);
int upgradeCommand(Run& run, const QStringList& arguments);
int backupCommand(Run& run, const QStringList& arguments);
int verifyCommand(Run& run, const QStringList& arguments);
int resetCommand(Run& run, const QStringList& arguments);

// A command with kDevice: its file checked first (kFile), then its
// accessory waited for and chosen, opened, the row's function run on it and
// closed; or with --all, allCommand for every chosen accessory.
int runOnAccessory(Run& run, const QStringList& arguments);
// --all: the command once for each accessory, each in a process of its own.
int allCommand(Run& run, const QVector<HidInterface>& accessories, const QString& file);

} // namespace cli
