// The reference for the wizard's start-up and memory: a window of the same
// size with the same QML imports and nothing in it, started the same way.

#include "firstframe.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QUrl>

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    watchFirstFrame();
    QQmlApplicationEngine qmlEngine;
    qmlEngine.load(QUrl(QStringLiteral("qrc:/bench/barewindow.qml")));
    if (qmlEngine.rootObjects().isEmpty())
        return 1;
    return application.exec();
}
