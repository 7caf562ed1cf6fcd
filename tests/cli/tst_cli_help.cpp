// What the flasher says of itself: help, --version and the usage errors of
// tavrin-dfu-demo, one row per command line (clifixture.h); and the command
// table against tavrin-dfu's --help, the man page and the bash completion, so
// that none of them can lack a command or an option.
#include "clifixture.h"
#include "commands.h"
#include "testplatform.h"

#include <QCommandLineOption>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

QString readSource(const QString& name) {
    QFile file(QStringLiteral(TAVRIN_CLI_SOURCE_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString helpOf(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(TAVRIN_DFU), arguments);
    process.waitForFinished(kRunMs);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QStringList captured(const QString& text, const QString& pattern) {
    QStringList found;
    auto match = QRegularExpression(pattern, QRegularExpression::MultilineOption).globalMatch(text);
    while (match.hasNext())
        found << match.next().captured(1);
    return found;
}

// The commands a document names, and the long options it offers command.
void documented(const QString& document, const QString& command, QStringList& commands,
                QStringList& options) {
    if (document == QLatin1String("--help")) {
        commands = captured(helpOf({QStringLiteral("--help")}), R"(^  ([a-z]+) )");
        options =
            captured(helpOf({command, QStringLiteral("--help")}), R"(^\s+(?:-\w, )?--([a-z-]+))");
    } else if (document == QLatin1String("man page")) {
        // Its synopsis: a block per command, up to .br; ACCESSORY stands for
        // the paragraph after the blocks.
        const QString man = readSource(QStringLiteral("tavrin-dfu.1")).replace("\\-", "-");
        commands = captured(man, R"(^\.B tavrin-dfu ([a-z]+))");
        for (const QString& block :
             captured(man, R"(^(\.B tavrin-dfu )" + command + R"(\b[\s\S]*?)^\.(?:br|PP)$)")) {
            options << captured(block, R"(--([a-z][a-z-]*))");
            if (block.contains(QLatin1String("ACCESSORY")))
                options << captured(captured(man, R"(^(\.I ACCESSORY\n[\s\S]*?)^\.SH)").join(""),
                                    R"(--([a-z][a-z-]*))");
        }
    } else {
        const QString completion = readSource(QStringLiteral("tavrin-dfu.bash-completion"));
        commands = captured(completion, "compgen -W \"([^\"$]*)\"").join(' ').split(' ');
        options = captured(completion, "local options=\"([^\"]*)\"").join(' ').split(' ') +
                  captured(completion, "^\\s+" + command + "\\) options\\+=\" ([^\"]*)\"")
                      .join(' ')
                      .split(' ');
        options.replaceInStrings(QRegularExpression("^--"), QString());
    }
}

} // namespace

class tst_CliHelp : public CliTableTest {
    Q_OBJECT

    void commandRows() override;

private slots:
    void documentsNameEveryCommandAndOption_data();
    void documentsNameEveryCommandAndOption();
};

void tst_CliHelp::commandRows() {
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
}

void tst_CliHelp::documentsNameEveryCommandAndOption_data() {
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("command");
    for (const cli::Command* c : cli::everyCommand())
        for (const char* document : {"--help", "man page", "bash completion"})
            QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(document, c->name)))
                << document << c->name;
}

void tst_CliHelp::documentsNameEveryCommandAndOption() {
    QFETCH(QString, document);
    QFETCH(QString, command);
    if (document != QLatin1String("--help") && !testplatform::isLinux())
        QSKIP("the man page and the completion ship with the Linux package only");
    QStringList commands, options;
    documented(document, command, commands, options);
    QVERIFY2(commands.contains(command), qPrintable(commands.join(' ')));
    for (const QCommandLineOption& option : cli::optionsOf(*cli::findCommand(command))) {
        if (!(option.flags() & QCommandLineOption::HiddenFromHelp))
            QVERIFY2(options.contains(option.names().constLast()),
                     qPrintable(option.names().constLast() + " not in: " + options.join(' ')));
    }
}

QTEST_GUILESS_MAIN(tst_CliHelp)
#include "tst_cli_help.moc"
