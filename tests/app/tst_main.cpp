// The demo program as a whole process: its start line, its arguments and its
// exit code. It runs on an X server of this test's own, and its test hook
// closes the window as the window system's close box would.
#include "demoscenarios.h"

#include <QtTest>

namespace {

const QByteArray kStartLine = "Starting TAVRIN firmware installator\n";
const char kCloseAfterVariable[] = "TAVRIN_DEMO_CLOSE_AFTER_MS";
const char kCloseAfterMs[] = "700";
constexpr int kRunTimeoutMs = 60000;
constexpr int kServerStartTimeoutMs = 20000;

} // namespace

class tst_main : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void startLineAndExitCode_data();
    void startLineAndExitCode();
    void startLineBeforeQmlLoads();
    void helpAndUnknownScenario_data();
    void helpAndUnknownScenario();
    void windowThatCannotLoadEndsTheProgram();

private:
    QProcessEnvironment programEnvironment() const;

    QProcess m_server;
    QString m_display;
};

void tst_main::initTestCase() {
    // -displayfd lets the server pick a free display itself, so tests that
    // run at the same time never race for one.
    m_server.start(QStringLiteral("Xvfb"),
                   {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"});
    QVERIFY2(m_server.waitForStarted(kServerStartTimeoutMs), "Xvfb did not start");
    QElapsedTimer waited;
    waited.start();
    while (!m_server.canReadLine() && waited.elapsed() < kServerStartTimeoutMs)
        m_server.waitForReadyRead(100);
    const QByteArray number = m_server.readLine().trimmed();
    QVERIFY2(!number.isEmpty(), "Xvfb reported no display");
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
}

void tst_main::cleanupTestCase() {
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        m_server.waitForFinished(5000);
    }
}

QProcessEnvironment tst_main::programEnvironment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(kCloseAfterVariable, kCloseAfterMs);
    return environment;
}

void tst_main::startLineAndExitCode_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("unknown argument") << QStringList{"--tavrin-no-such-option"};
    QTest::newRow("unknown argument and value") << QStringList{"-frobnicate", "7"};
    QTest::newRow("scenario") << QStringList{"--scenario", "no-accessory"};
    QTest::newRow("scenario with =") << QStringList{"--scenario=busy"};
}

void tst_main::startLineAndExitCode() {
    QFETCH(QStringList, arguments);
    QProcess program;
    program.setProcessEnvironment(programEnvironment());
    program.setWorkingDirectory(QFileInfo(TAVRIN_DEMO_PROGRAM).absolutePath());
    program.start(TAVRIN_DEMO_PROGRAM, arguments);
    QVERIFY(program.waitForStarted());
    QVERIFY(program.waitForFinished(kRunTimeoutMs));

    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    // The whole of standard output, byte for byte.
    QCOMPARE(program.readAllStandardOutput(), kStartLine);
}

void tst_main::startLineBeforeQmlLoads() {
    // A copy without the files beside it: the controller, created while the
    // QML loads, then reports the missing text copy file on the message log.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString copy = folder.filePath(QStringLiteral("tavrin-installator-demo"));
    QVERIFY(QFile::copy(TAVRIN_DEMO_PROGRAM, copy));

    QProcess program;
    program.setProcessEnvironment(programEnvironment());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(copy, QStringList());
    QVERIFY(program.waitForStarted());
    QVERIFY(program.waitForFinished(kRunTimeoutMs));
    QCOMPARE(program.exitCode(), 0);

    const QByteArray output = program.readAll();
    const int startLine = output.indexOf(kStartLine);
    const int loading = output.indexOf("Couldn't open \"");
    QVERIFY2(startLine >= 0, output.constData());
    QVERIFY2(loading >= 0, output.constData());
    QVERIFY(startLine < loading);
    QCOMPARE(output.count(kStartLine), 1);
}

void tst_main::helpAndUnknownScenario_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    // Every scenario is listed, on the channel the exit code goes with.
    QTest::addColumn<bool>("onStandardOutput");
    QTest::addColumn<QByteArray>("firstLine");
    QTest::newRow("--help") << QStringList{"--help"} << 0 << true
                            << QByteArray("Usage: tavrin-installator-demo [--scenario NAME]");
    QTest::newRow("unknown scenario") << QStringList{"--scenario", "melted"} << 2 << false
                                      << QByteArray("Unknown scenario: melted");
    QTest::newRow("scenario without name")
        << QStringList{"--scenario"} << 2 << false << QByteArray("--scenario needs a name");
}

void tst_main::helpAndUnknownScenario() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(bool, onStandardOutput);
    QFETCH(QByteArray, firstLine);
    // Answered before the window system is reached: no display needed.
    QProcessEnvironment environment = programEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(TAVRIN_DEMO_PROGRAM, arguments);
    QVERIFY(program.waitForFinished(kRunTimeoutMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);

    const QByteArray output = program.readAllStandardOutput();
    const QByteArray errors = program.readAllStandardError();
    const QByteArray text = onStandardOutput ? output : errors;
    // Ended before the wizard: no start line.
    QVERIFY2(!output.contains(kStartLine), output.constData());
    QCOMPARE(text.left(text.indexOf('\n')), firstLine);
    for (const demo::Scenario& scenario : demo::scenarios())
        QVERIFY2(text.contains(QByteArray("\n  ") + scenario.name + ' '), text.constData());
}

void tst_main::windowThatCannotLoadEndsTheProgram() {
    // A QML module found first on the import path whose plugin is missing:
    // the wizard's main file cannot load.
    QTemporaryDir imports;
    QVERIFY(imports.isValid());
    QVERIFY(QDir(imports.path()).mkpath(QStringLiteral("QtQuick/Layouts")));
    QFile qmldir(imports.filePath(QStringLiteral("QtQuick/Layouts/qmldir")));
    QVERIFY(qmldir.open(QIODevice::WriteOnly));
    qmldir.write("module QtQuick.Layouts\nplugin tavrin_no_such_plugin\n");
    qmldir.close();

    QProcessEnvironment environment = programEnvironment();
    environment.insert(QStringLiteral("QML2_IMPORT_PATH"), imports.path());
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(TAVRIN_DEMO_PROGRAM, QStringList());
    QVERIFY(program.waitForStarted());
    QVERIFY(program.waitForFinished(kRunTimeoutMs));

    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(program.readAllStandardOutput(), kStartLine);
    const QByteArray errors = program.readAllStandardError();
    QVERIFY2(errors.contains("The installer's window could not be loaded"), errors.constData());
}

QTEST_GUILESS_MAIN(tst_main)
#include "tst_main.moc"
