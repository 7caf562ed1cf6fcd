// tavrin-dfu-demo driven as a process against its simulated accessories:
// SIGINT, SIGTERM, SIGHUP and SIGPIPE (on Windows Ctrl+Break) during a transfer
// let the write finish and skip what would follow.
#include "clifixture.h"
#include "clitest.h"
#include "stopsignals.h"

#include <QProcess>
#include <QTest>

#include <csignal>
#include <utility>

class tst_CliSignals : public CliTest {
    Q_OBJECT

private slots:
    void signalsLetTheWriteFinish_data();
    void signalsLetTheWriteFinish();
};

void tst_CliSignals::signalsLetTheWriteFinish_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("fragments");
    const QString one = "upgrade --json {dir}/full.dfu";
    for (const StopSignal& stop : stopSignals())
        QTest::newRow(qPrintable(stop.name))
            << stop.number << one << stop.status
            << QStringList{stop.text + ": the write is finishing", QString(R"j("percent":99)j"),
                           QString(R"j("detail":"the write completed; the reset was skipped: the )j"
                                   R"j(accessory stays in update mode: run `tavrin-dfu reset`")j"),
                           QString(R"j("status":%1,"testImage":true,"text":"%2","time":")j")
                               .arg(stop.status)
                               .arg(stop.text)};
    QTest::newRow("--all after Ctrl+C: a write failed on its own")
        << SIGINT << "upgrade --all --json --scenario healthy,write-fails {dir}/full.dfu" << 130
        << QStringList{R"j("serial":"SIM-0001","size":65552,"status":130,"testImage":true,)j"
                       R"j("text":"Interrupted",)j",
                       R"j("serial":"SIM-0002","size":65552,"status":5,)j",
                       R"j("event":"summary","failed":1,"status":130,)j"};
    // Where the system has them: Windows has neither SIGPIPE nor a SIGTERM to send.
    if (brokenPipeSignal() != 0)
        QTest::newRow("standard output closed") << brokenPipeSignal() << one << 0 << QStringList{};
    // As nohup starts it: the hang-up was ignored from the start and stays so.
    if (hangUpSignal() != 0)
        QTest::newRow("SIGHUP ignored from the start (nohup)")
            << hangUpSignal() << "nohup upgrade --verify {dir}/full.dfu" << 0
            << QStringList{"full.dfu, verified, reset\n"};
    if (stopSignals().size() > 1)
        QTest::newRow("--all passes SIGTERM on")
            << SIGTERM << "upgrade --all --json --scenario healthy,healthy {dir}/full.dfu" << 143
            << QStringList{R"j("serial":"SIM-0002","size":65552,"status":143,"testImage":true,)j"
                           R"j("text":"Terminated",)j",
                           R"j("writeCompleted":true)j",
                           R"j("event":"summary","failed":0,"status":143,)j"};
    // As a terminal sends Ctrl+C: to the parent and its children at once.
    if (stopSignals().size() > 1)
        QTest::newRow("--all: Ctrl+C to the process group")
            << -SIGINT << "upgrade --all --json --scenario healthy,healthy {dir}/full.dfu" << 130
            << QStringList{R"j("serial":"SIM-0001","size":65552,"status":130,)j",
                           R"j("serial":"SIM-0002","size":65552,"status":130,)j",
                           R"j("event":"summary","failed":0,"status":130,)j"};
}

// The signal (on Windows Ctrl+Break) arrives once the first progress line is
// out; the standard output of the SIGPIPE row is a pipe whose reader leaves
// after one byte. A line that begins with nohup is run under nohup.
void tst_CliSignals::signalsLetTheWriteFinish() {
    QFETCH(int, signal);
    QFETCH(QString, line);
    QFETCH(int, status);
    QFETCH(QStringList, fragments);
    QStringList arguments = line.replace("{dir}", m_dir.path()).split(' ');
    if (!line.contains("--all"))
        arguments << "--record" << path("signal.txt");
    QString program = TAVRIN_DFU_DEMO;
    if (arguments.first() == "nohup")
        std::swap(program, arguments.first());
    QProcess process;
    const Interrupt sent = startAndInterrupt(process, program, arguments, signal);
    if (sent == Interrupt::NotDelivered)
        QSKIP("the system sends no console events here (Wine)");
    QVERIFY(sent == Interrupt::Sent);
    QVERIFY(process.waitForFinished(kRunMs));
    const QString out = process.readAllStandardOutput() + process.readAllStandardError();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    for (const QString& fragment : fragments)
        QVERIFY2(out.contains(fragment), qPrintable(fragment + "\n--- not in:\n" + out));
    // Each row sends one signal, which is one request wherever it arrives.
    QVERIFY2(!out.contains(" again: "), qPrintable(out));
    // The accessory received the whole write; a reset only when nothing stopped the run.
    if (!line.contains("--all"))
        QCOMPARE(sentReports(path("signal.txt")), expectedUpgrade(path("full.dfu"), status == 0));
}

QTEST_GUILESS_MAIN(tst_CliSignals)
#include "tst_cli_signals.moc"
