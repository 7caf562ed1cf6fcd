#include "firstframe.h"

#include <QCoreApplication>
#include <QPlatformSurfaceEvent>
#include <QQuickWindow>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace {

constexpr int kSettleMs = 1000;

// The window's platform surface is created when it is shown, before anything
// is drawn; that is the last moment to connect to its first frame.
class SurfaceWatch : public QObject {
public:
    explicit SurfaceWatch(std::function<void(QQuickWindow*)> next) : m_next(std::move(next)) {}

    bool eventFilter(QObject* object, QEvent* event) override {
        auto* window = qobject_cast<QQuickWindow*>(object);
        if (window && event->type() == QEvent::PlatformSurface &&
            static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
                QPlatformSurfaceEvent::SurfaceCreated) {
            qApp->removeEventFilter(this);
            watch(window);
        }
        return false;
    }

private:
    void watch(QQuickWindow* window) {
        auto next = m_next;
        // The swap may happen on the render thread: the time is taken there,
        // the rest is queued to the GUI thread.
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(
            window, &QQuickWindow::frameSwapped, window,
            [window, next, connection] {
                QObject::disconnect(*connection);
                const auto now = std::chrono::steady_clock::now().time_since_epoch();
                std::printf("first-frame %lld\n",
                            static_cast<long long>(
                                std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
                std::fflush(stdout);
                QMetaObject::invokeMethod(
                    window,
                    [window, next] {
                        if (next)
                            next(window);
                        else
                            QTimer::singleShot(kSettleMs, qApp, &QCoreApplication::quit);
                    },
                    Qt::QueuedConnection);
            },
            Qt::DirectConnection);
        deleteLater();
    }

    std::function<void(QQuickWindow*)> m_next;
};

} // namespace

void watchFirstFrame(std::function<void(QQuickWindow*)> next) {
    qApp->installEventFilter(new SurfaceWatch(std::move(next)));
}
