#pragma once
// The start-up probe shared by the wizard and the bare window under measure:
// both are started by bench_launch, which takes the time from its fork to
// the line this writes when the first frame reaches the screen.

#include <functional>

class QQuickWindow;

// Call before the QML loads. At the first frame swapped by the first Qt Quick
// window, writes "first-frame <steady clock in ns>" to standard output and
// then runs next on the GUI thread; "probe", "window-shown" and "first-sync"
// lines before it time the call itself, the window's appearance and the
// start of its first frame. Without next, the program quits a second
// later, so that its peak memory is that of the page it shows, settled, and
// writes that peak as "self-peak-kib <n>" just before.
void watchFirstFrame(std::function<void(QQuickWindow*)> next = {});
