#pragma once

#include "hiddfu.h"

#include <QObject>
#include <QPointer>
#include <QThread>

class AsyncWorker;
class CHidDfuEngine;

// Owns the worker thread for the engine's whole life and starts one fresh
// AsyncWorker on it per backup or upgrade.
class AsyncWorkerManager : public QObject {
    Q_OBJECT

public:
    explicit AsyncWorkerManager(CHidDfuEngine* engine);
    ~AsyncWorkerManager() override;

    // Creates a worker from the engine's device, file name, report length and
    // the file bytes an upgrade was given (moved out of the engine), wires it
    // and starts the thread. Only called when the thread is idle.
    void startWorker();

    QThread& thread() { return workerThread; }
    const QThread& thread() const { return workerThread; }

signals:
    void doBackup();
    void doUpgrade();

public slots:
    void setExitCode(int32 exitCode);

private:
    // Only while its thread is stopped.
    void deleteLeftWorker();

    QThread workerThread;
    // The last worker started, null once it is deleted.
    QPointer<AsyncWorker> lastWorker;
    CHidDfuEngine* engine;
};
