#include "firstframe.h"

#include "benchprocess.h"

#include <QCoreApplication>
#include <QPlatformSurfaceEvent>
#include <QQuickWindow>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace {

constexpr int kSettleMs = 1000;

long long nowNs() {
    return static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count());
}

// "<name> <steady clock in ns>": bench_launch turns these into times since
// its fork.
void stamp(const char* name) {
    std::printf("%s %lld\n", name, nowNs());
    std::fflush(stdout);
}

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
            stamp("window-shown");
            watch(window);
        }
        return false;
    }

private:
    void watch(QQuickWindow* window) {
        auto next = m_next;
        // The swap may happen on the render thread: the time is taken there,
        // the rest is queued to the GUI thread.
        auto sync = std::make_shared<QMetaObject::Connection>();
        *sync = QObject::connect(
            window, &QQuickWindow::beforeSynchronizing, window,
            [sync] {
                QObject::disconnect(*sync);
                stamp("first-sync");
            },
            Qt::DirectConnection);
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(
            window, &QQuickWindow::frameSwapped, window,
            [window, next, connection] {
                QObject::disconnect(*connection);
                stamp("first-frame");
                QMetaObject::invokeMethod(
                    window,
                    [window, next] {
                        if (next)
                            next(window);
                        else
                            QTimer::singleShot(kSettleMs, qApp, [] {
                                // Wine cannot tell the launcher an ended
                                // process's memory; the process tells it.
                                std::printf("self-peak-kib %ld\n", bench::peakMemoryKiB());
                                std::fflush(stdout);
                                QCoreApplication::quit();
                            });
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
    stamp("probe");
    qApp->installEventFilter(new SurfaceWatch(std::move(next)));
}
