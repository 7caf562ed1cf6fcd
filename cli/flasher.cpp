#include "flasher.h"

#include "arguments.h"
#include "clibackend.h"
#include "commands.h"
#include "console.h"
#include "exitstatus.h"
#include "hiddfu.h"
#include "report.h"
#include "stoprequests.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_signals = 0;

// A request passed on by the parent process is one this process may have had
// already: a terminal's Ctrl+C reaches the whole foreground process group,
// and the --all parent (or a shell that hangs up) passes it on as well. It
// counts only when nothing came before it, so that one key is one request.
void onInterrupt(int signal, bool passedOn) {
    if (!g_interrupted)
        g_interrupted = signal;
    if (passedOn && g_signals > 0)
        return;
    if (g_signals < 2)
        g_signals = g_signals + 1;
}

// Routes the engine's message log to standard error only when asked: its
// device list on every connect is noise for people and breaks nothing for
// scripts, which read standard output.
// Except the engine's advice: why the accessory could not be opened, with the
// udev rule's name.
void quietMessageLog(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    static const bool verbose = qEnvironmentVariableIsSet("TAVRIN_DFU_VERBOSE");
    const bool advice = context.category && std::strcmp(context.category, kHidDfuAdviceLog) == 0;
    if (verbose || advice || type == QtCriticalMsg || type == QtFatalMsg)
        platform::writeText(stderr, text + QLatin1Char('\n'));
}

int usageError(const QString& text) {
    const QString program = Report::programName();
    platform::writeText(stderr, QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(program, text));
    return UsageError;
}

} // namespace

bool interrupted() {
    return g_interrupted != 0;
}

bool interruptedAgain() {
    return g_signals >= 2;
}

int interruptSignal() {
    return g_interrupted;
}

ExitStatus interruptStatus() {
    return ExitStatus(128 + g_interrupted);
}

QString interruptText() {
    return platform::stopText(g_interrupted);
}

void installInterruptHandler() {
    platform::onStopRequests(onInterrupt);
}

int run(const QStringList& arguments) {
    qInstallMessageHandler(quietMessageLog);
    const QString program = Report::programName();

    // First pass with every option known, only to find the command.
    QCommandLineParser probe;
    probe.addOptions(everyOption());
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
    // Qt's own help option brings --help-all, whose options are not ours.
    const QCommandLineOption commandHelp({QStringLiteral("h"), QStringLiteral("help")},
                                         QStringLiteral("Show this help."));
    parser.addOption(commandHelp);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(commandHelp)) {
        // Qt's usage line names the program by its full path.
        QString text = parser.helpText();
        text = text.mid(text.indexOf(QLatin1Char('\n')) + 1);
        std::printf("Usage: %s %s [options] %s\n%s\n%s", qPrintable(program), command->name,
                    command->synopsis, qPrintable(text), exitStatusHelp());
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
    if (parser.isSet(kPath) && parser.isSet(kSerial))
        return usageError(QStringLiteral("--path and --serial each choose an accessory; give one"));
    if (command->needs & kBackend) {
        QString error;
        if (!prepareBackend(parser, error))
            return usageError(error);
    }

    return command->needs & kDevice ? runOnAccessory(run, positional)
                                    : command->run(run, positional);
}

} // namespace cli
