#pragma once
// Each executable links exactly one definition of this function, matching the
// hidapi implementation it links: the shipping program's (hidbackend_system.cpp,
// also on Windows) reaches the system's HID devices and has nothing to
// prepare; the demo program's plugs its simulated accessory into the
// in-process bus. main calls it before the QML loads, so the wizard finds the
// accessory from its first page on.

#include <QStringList>

#include <optional>

// Given the program's arguments (Qt's own already removed). An exit code when
// the program is to end at once (a help text was asked for, an argument was
// wrong), nothing when the wizard is to start.
std::optional<int> prepareHidBackend(const QStringList& arguments);

// The same answers from the raw command line, before the program reaches for
// the window system: a help text or a wrong argument must not need a display.
std::optional<int> answerCommandLine(int argc, char** argv);
