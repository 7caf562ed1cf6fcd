#include "closesignals.h"
#include "displayscaling.h"
#include "hidbackend.h"
#include "logfile.h"
#include "messagelog.h"
#include "networkpolicy.h"
#include "runningmark.h"
#include "startup.h"

#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QUrl>
#include <QWindow>

#include <iostream>

// The engine instance and the resource bundle are set up by static
// initialisation before this runs, and torn down after it returns.
int main(int argc, char* argv[]) {
    markProgramRunning();
    logToRedirectedStandardError();
    // Qt Quick sizes its texture atlas to the window, 1024 px square for the
    // wizard's; a software OpenGL stack holds all 4 MiB of it in main memory.
    // 256 px (256 KiB) holds the first page's small images; an image of
    // 128 px or more on a side gets a texture of its own, exactly its size.
    // A size set by the user still wins.
    for (const char* side : {"QSG_ATLAS_WIDTH", "QSG_ATLAS_HEIGHT"}) {
        if (!qEnvironmentVariableIsSet(side))
            qputenv(side, "256");
    }
    if (const std::optional<int> exitCode = answerCommandLine(argc, argv))
        return *exitCode;
    enableHighDpiScaling();
    QGuiApplication application(argc, argv);
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/installator/Resources/icon.ico")));
    if (const std::optional<int> exitCode = prepareHidBackend(QCoreApplication::arguments()))
        return *exitCode;
    // Outlives the QML engine declared below, so that the controller's last
    // lines reach the file too.
    LogFile logFile(LogFile::defaultFolder());

    // Flushed before the QML loads, so it comes first also when standard
    // output is a pipe.
    std::cout << "Starting TAVRIN firmware installator" << std::endl;

    registerQmlTypes();
    // Before any engine operation can start: the worker's reports carry these
    // types. The engine takes them directly on the worker's thread; a queued
    // connection to them would lose its arguments without the names.
    registerEngineMetaTypes();
    // After the log file exists, so that support reads the choice there.
    chooseSceneGraphBackend();

    // Declared after the application object, so it is destroyed first; with
    // it go the window and the controller, which waits for its relay.
    QQmlApplicationEngine qmlEngine;
    refuseRemoteContent(qmlEngine);
    qmlEngine.load(QUrl(QStringLiteral("qrc:/installator/qml/main.qml")));
    // Without its window the program would idle on, invisible and impossible
    // to close; the QML engine has already logged why the load failed.
    if (qmlEngine.rootObjects().isEmpty()) {
        qCritical() << "The installer's window could not be loaded";
        return 1;
    }
    closeWindowOnSignals(qobject_cast<QWindow*>(qmlEngine.rootObjects().constFirst()));
    return application.exec();
}
