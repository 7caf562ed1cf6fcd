#include "displayscaling.h"

#include <QGuiApplication>

// Windows' DPI (LogPixels) is the person's own choice among 100, 125, 150,
// 175 and 200 %, never a measurement, so Qt gets it unrounded: rounded to a
// whole factor, 150 % would draw at 200 % and 125 % at 100 %. Qt declares the
// program per-monitor DPI aware and scales the scene itself, so text and
// vector art stay sharp; declaring it unaware instead (the windows plugin's
// dpiawareness=0) would have Windows stretch a 100 % bitmap of the window.
void enableHighDpiScaling() {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
}
