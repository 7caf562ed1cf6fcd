#pragma once
// Process-wide registrations made by main before anything can start an
// engine operation.

// Registers the argument type names of the engine's cross-thread signals:
// "uint8" and "int32" as names of Qt's built-in unsigned char and int, and
// "std::string" as a type of its own. Queued delivery of those signals fails
// without them.
void registerEngineMetaTypes();

// Registers the wizard's QML types: the elements Installator and FocusTracker
// of the module installator 1.0.
void registerQmlTypes();
