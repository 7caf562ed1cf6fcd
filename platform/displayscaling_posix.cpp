#include "displayscaling.h"

#include <QCoreApplication>

// On X11 Qt takes the scale from the desktop's Xft.dpi (192 at 200 %) or,
// where none is set, from the screen's measured density, which is seldom a
// multiple of 96 (Xvfb says 100 dpi). Qt's default rounding to a whole factor
// keeps such screens at 1 x instead of blurring every page by 4 %; Wayland
// gives whole factors of its own.
void enableHighDpiScaling() {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
}
