// What the flasher says of itself: help, --version and the usage errors of
// tavrin-dfu-demo, one row per command line (clifixture.h); the command
// table against tavrin-dfu's --help, the man page and the bash completion, so
// that none of them can lack a command or an option; the JSON keys each
// command writes against the man page's table of them; and the advice after
// a failed write, for how far it got.
#include "clifixture.h"
#include "commands.h"
#include "testplatform.h"

#include <QCommandLineOption>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
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

// The man page's JSON table: for each place a key occurs (result, a
// command, progress, summary), the keys it names there.
QMap<QString, QSet<QString>> documentedKeys() {
    const QString man = readSource(QStringLiteral("tavrin-dfu.1")).replace("\\-", "-");
    const QString table = captured(man, R"(^(\.SH JSON OUTPUT\n[\s\S]*?)^\.SH )").join("");
    QMap<QString, QSet<QString>> keys;
    auto entry = QRegularExpression(R"(^\.TP\n\.B (\w+)\n\(([a-z, ]+)\))",
                                    QRegularExpression::MultilineOption)
                     .globalMatch(table);
    while (entry.hasNext()) {
        const QRegularExpressionMatch m = entry.next();
        for (const QString& where : m.captured(2).split(QStringLiteral(", ")))
            keys[where].insert(m.captured(1));
    }
    return keys;
}

// The objects of output that the table's place names.
QList<QJsonObject> objectsAt(const QString& where, const Ran& ran) {
    QList<QJsonObject> objects;
    for (const QJsonValue& v : QJsonDocument::fromJson(ran.output.toUtf8()).array())
        objects << v.toObject(); // list's array
    for (const QJsonObject& o : ran.json) {
        const QString event = o.value("event").toString();
        if (event == where || (event == "result" && o.value("command").toString() == where))
            objects << o;
    }
    return objects;
}

} // namespace

class tst_CliHelp : public CliTableTest {
    Q_OBJECT

    void commandRows() override;

private slots:
    void documentsNameEveryCommandAndOption_data();
    void documentsNameEveryCommandAndOption();
    void jsonKeysAreTheManPagesTable_data();
    void jsonKeysAreTheManPagesTable();
    void adviceAfterAFailedWrite_data();
    void adviceAfterAFailedWrite();
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

// One row per place a key occurs: command lines that write every key the
// table names there, and no other. k\0033 is a name shown with escapes.
void tst_CliHelp::jsonKeysAreTheManPagesTable_data() {
    QTest::addColumn<QString>("where");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("notWrittenHere");
    const auto row = [](const char* where, const QStringList& lines,
                        const QStringList& elsewhere = {}) {
        QTest::newRow(where) << where << lines << elsewhere;
    };
    row("result", {"check --json {dir}/none.dfu", "reset --json"});
    row("list", {"list --json"});
    row("check", {"check --json {dir}/k\\0033.dfu"});
    row("pack", {"pack --json --force --release 2.4.0 --test-image 64 {dir}/k\\0033p.dfu"});
    // A mismatch after a write needs an accessory that keeps something
    // else; a signal after the write is tst_cli_signals'.
    row("upgrade", {"upgrade --json --no-reset {dir}/k\\0033.dfu"}, {"offset", "writeCompleted"});
    row("backup", {"backup --json --force {dir}/k\\0033b.dfu"});
    row("verify", {"verify --json {dir}/small.dfu", "verify --json {dir}/k\\0033.dfu"});
    row("reset", {"reset --json"});
    row("progress", {"upgrade --json --no-reset {dir}/full.dfu",
                     "upgrade --all --json --no-reset {dir}/small.dfu"});
    row("summary", {"upgrade --all --json --no-reset {dir}/small.dfu"});
}

void tst_CliHelp::jsonKeysAreTheManPagesTable() {
    QFETCH(QString, where);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, notWrittenHere);
    if (!testplatform::isLinux())
        QSKIP("the man page ships with the Linux package only; the names are Linux rows");
    QFile::copy(path("small.dfu"), path("k\x1b.dfu"));
    const QMap<QString, QSet<QString>> table = documentedKeys();
    QSet<QString> written;
    for (const QString& line : lines) {
        const QList<QJsonObject> objects = objectsAt(where, run(line.split(' ')));
        QVERIFY2(!objects.isEmpty(), qPrintable(line));
        for (const QJsonObject& o : objects)
            for (const QString& key : o.keys())
                written.insert(key);
    }
    const bool command = cli::findCommand(where) && where != QLatin1String("list");
    if (where != QLatin1String("result")) {
        const QSet<QString> documented =
            table.value(where) + (command ? table.value("result") : QSet<QString>());
        const QStringList unknown = (written - documented).values();
        QVERIFY2(unknown.isEmpty(), qPrintable("not in the table: " + unknown.join(' ')));
    }
    QStringList missing = (table.value(where) - written).values();
    for (const QString& key : notWrittenHere)
        missing.removeOne(key);
    QVERIFY2(missing.isEmpty(), qPrintable("in the table, never written: " + missing.join(' ')));
}

// The facts: bytes written, of total, the last DFU status and state.
void tst_CliHelp::adviceAfterAFailedWrite_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QList<int>>("facts");
    QTest::addColumn<QString>("advice");
    const QString incomplete = "58 of 200 bytes written: the accessory may hold an incomplete "
                               "firmware: run the upgrade again to restore it";
    const QString busy = "the accessory was still busy at the last status read and did not "
                         "finish in time, which is no refusal; ";
    QTest::newRow("status 0 in dfuERROR: a refusal")
        << -8 << QList<int>{58, 200, 0, 10} << incomplete;
    QTest::newRow("status 3 while busy: a refusal")
        << -8 << QList<int>{58, 200, 3, 4} << incomplete;
    QTest::newRow("busy before the first block")
        << -8 << QList<int>{0, 200, 0, 4} << busy + "nothing was written: run the upgrade again";
    QTest::newRow("the first status read fails")
        << -12 << QList<int>{0, 200, -1, -1} << "nothing was written: run the upgrade again";
    QTest::newRow("too slow for the time allowed")
        << -17 << QList<int>{58, 200, 0, 4}
        << "the accessory was still taking the firmware, more slowly than the time allowed; " +
               incomplete + "; if it runs out of time again, send this line to support";
    QTest::newRow("firmware corrupt") << -16 << QList<int>{58, 200, 10, 10} << "";
}

void tst_CliHelp::adviceAfterAFailedWrite() {
    QFETCH(int, code);
    QFETCH(QList<int>, facts);
    QFETCH(QString, advice);
    const HidDfuWriteFacts written{uint64_t(facts[0]), uint64_t(facts[1]), facts[2], facts[3]};
    QCOMPARE(cli::afterFailedWrite(code, written), advice);
}

QTEST_GUILESS_MAIN(tst_CliHelp)
#include "tst_cli_help.moc"
