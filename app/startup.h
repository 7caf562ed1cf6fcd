#pragma once
// Process-wide set-up made by main before the QML loads, and so before
// anything can start an engine operation.

// Registers the argument type names of the engine's cross-thread signals:
// "uint8" and "int32" as names of Qt's built-in unsigned char and int, and
// "std::string" as a type of its own. The engine receives those signals
// directly on the worker's thread; a queued connection to them, to a receiver
// on another thread, fails without the names.
void registerEngineMetaTypes();

// Registers the wizard's QML types: the elements Installator and FocusTracker
// of the module installator 1.0.
void registerQmlTypes();

// Chooses how Qt Quick draws, before the QML loads: with OpenGL 2 where a
// context can be made, else with Qt Quick's software renderer, and says which
// in the log. QT_QUICK_BACKEND (or QMLSCENE_DEVICE) set by whoever starts the
// program takes precedence.
void chooseSceneGraphBackend();
