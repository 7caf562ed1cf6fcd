#include "startup.h"

#include <QByteArray>
#include <QDebug>
#include <QMetaType>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSGRendererInterface>
#include <QString>

#include <string>

namespace {

// "1.1.0", "4.5 (Compatibility Profile) Mesa 22.3.6", "OpenGL ES 3.2 ...":
// the first number is the major version.
int majorVersion(const QByteArray& version) {
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("(\\d+)\\.\\d+")).match(QString::fromLatin1(version));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// What OpenGL the window would get, as the log names it, and whether Qt
// Quick can draw with it: Qt Quick needs OpenGL 2. Windows' basic display
// driver, a virtual machine's or a remote session's offers OpenGL 1.1 or no
// context at all, and the Windows program carries no software OpenGL.
bool probeOpenGl2(QString& found) {
    QOpenGLContext context;
    if (!context.create()) {
        found = QStringLiteral("no OpenGL context could be made");
        return false;
    }
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) {
        found = QStringLiteral("an OpenGL context that cannot draw");
        return false;
    }
    QOpenGLFunctions* gl = context.functions();
    const auto string = [gl](GLenum name) {
        const GLubyte* text = gl->glGetString(name);
        return text ? QByteArray(reinterpret_cast<const char*>(text)) : QByteArray();
    };
    const QByteArray version = string(GL_VERSION);
    found = QStringLiteral("OpenGL %1 (%2)")
                .arg(QString::fromLatin1(version), QString::fromLatin1(string(GL_RENDERER)));
    context.doneCurrent();
    return majorVersion(version) >= 2;
}

} // namespace

void registerEngineMetaTypes() {
    QMetaType::registerTypedef("uint8", QMetaType::UChar);
    QMetaType::registerTypedef("int32", QMetaType::Int);
    // Deliberately not declared as a metatype at compile time: registering
    // the name is all that queued connections by signature need.
    qRegisterMetaType<std::string>("std::string");
}

void chooseSceneGraphBackend() {
    for (const char* chosen : {"QT_QUICK_BACKEND", "QMLSCENE_DEVICE"}) {
        if (qEnvironmentVariableIsSet(chosen)) {
            qInfo().noquote() << QStringLiteral("Drawing with the scene graph backend %1=%2")
                                     .arg(QString::fromLatin1(chosen),
                                          qEnvironmentVariable(chosen));
            return;
        }
    }
    QString found;
    if (probeOpenGl2(found)) {
        qInfo().noquote() << "Drawing with" << found;
        return;
    }
    // Without OpenGL 2 the window would never show. The software renderer
    // draws no shader effects; the pages draw their progress rings in its
    // stead (CircularProgress.qml).
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    qWarning().noquote() << "Drawing with Qt Quick's software renderer:" << found;
}
