#pragma once
// What the tests of the controller against the process's engine share: the
// engine's types registered and the message log captured from the first
// function on, the changelog and the text copy beside the executable, a new
// bus of simulated accessories and no firmware file before each function,
// the engine settled after it. Qt Test runs these inherited slots as the
// test's own.
#include "appfolder.h"
#include "enginesupport.h"
#include "logcapture.h"
#include "startup.h"

#include <QJsonObject>
#include <QObject>
#include <QThread>
#include <QtTest>

class ControllerTest : public QObject {
    Q_OBJECT

protected:
    // The text copy written before each function.
    explicit ControllerTest(QJsonObject copy) : m_copy(std::move(copy)) {}

    static constexpr char kFirmwareName[] = "firmware.dfu";
    LogCapture m_log;
    QThread* m_guiThread = nullptr;

private slots:
    void initTestCase() {
        registerEngineMetaTypes();
        m_log.install();
        m_guiThread = QThread::currentThread();
        QVERIFY(appfolder::write(appfolder::changelogFile(), "<p>notes</p>"));
    }
    void init() {
        sim::Bus::reset();
        QVERIFY(appfolder::writeTextCopy(m_copy));
        appfolder::remove(kFirmwareName);
        m_log.clear();
    }
    void cleanup() { enginesupport::settle(); }
    void cleanupTestCase() {
        appfolder::remove(kFirmwareName);
        appfolder::remove(appfolder::textCopyFile());
        appfolder::remove(appfolder::changelogFile());
    }

private:
    QJsonObject m_copy;
};
