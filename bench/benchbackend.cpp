// The wizard under measure: the demo program's main with this backend, which
// plugs in the demo accessory and watches the window.
//
// TAVRIN_BENCH_MODE=startup (default): quits a second after the first frame.
// TAVRIN_BENCH_MODE=transfer: plugs in the demo's full-speed accessory, at
// the first frame shows the last preparation page and presses its forward
// button, lets the upgrade run TAVRIN_BENCH_WARMUP_MS (2000), then measures
// the CPU time of the whole process over TAVRIN_BENCH_SECONDS (20), writes
// "cpu-percent <of one core> frames <count>" and ends at once, with the
// upgrade still running.

#include "benchprocess.h"
#include "demoaccessory.h"
#include "demoscenarios.h"
#include "firstframe.h"
#include "hidbackend.h"
#include "simbus.h"

#include <QCoreApplication>
#include <QQuickWindow>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

int envInt(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

std::atomic<int> frames{0};

void measureTransfer(QQuickWindow* window) {
    // A page and its buttons are built when the page is first shown: the
    // last preparation page is shown as the walk would reach it.
    QObject* pageView = window->findChild<QObject*>(QStringLiteral("pageView"));
    if (pageView)
        QMetaObject::invokeMethod(pageView, "showPageByName",
                                  Q_ARG(QVariant, QStringLiteral("howTo3Page")),
                                  Q_ARG(QVariant, QVariant()));
    QObject* forward = window->findChild<QObject*>(QStringLiteral("howTo3PageForward"));
    if (!forward || !QMetaObject::invokeMethod(forward, "clicked")) {
        std::fprintf(stderr, "cannot press howTo3PageForward\n");
        std::exit(1);
    }
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window, [] { ++frames; }, Qt::DirectConnection);
    const int seconds = envInt("TAVRIN_BENCH_SECONDS", 20);
    QTimer::singleShot(envInt("TAVRIN_BENCH_WARMUP_MS", 2000), window, [seconds] {
        const double cpuStart = bench::cpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        const int framesStart = frames;
        const auto threadsStart = bench::threadCpuMs();
        QTimer::singleShot(seconds * 1000, qApp, [=] {
            for (const auto& [name, ms] : bench::threadCpuMs()) {
                const auto before = threadsStart.find(name);
                const long spent = ms - (before == threadsStart.end() ? 0 : before->second);
                if (spent > 0)
                    std::printf("thread %s %ld ms\n", name.c_str(), spent);
            }
            const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallStart;
            std::printf("cpu-percent %.3f frames %d\n",
                        100.0 * (bench::cpuSeconds() - cpuStart) / wall.count(),
                        frames - framesStart);
            std::fflush(stdout);
            // The upgrade is still running; its end is not part of this
            // measurement.
            std::_Exit(0);
        });
    });
}

} // namespace

std::optional<int> prepareHidBackend(const QStringList&) {
    // The transfer runs at the pace of a real full-speed accessory, the demo
    // program's "full-speed" scenario, so the figure is what a user's machine
    // spends, not what a fast simulation makes it redraw.
    if (qgetenv("TAVRIN_BENCH_MODE") == "transfer") {
        demo::plugInScenario("full-speed");
        watchFirstFrame(measureTransfer);
    } else {
        sim::Bus::addAccessory(demo::accessoryConfig());
        watchFirstFrame();
    }
    return std::nullopt;
}

std::optional<int> answerCommandLine(int, char**) {
    return std::nullopt;
}
