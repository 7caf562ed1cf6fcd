#include "asyncworkermanager.h"

#include "asyncworker.h"
#include "chiddfuengine.h"

AsyncWorkerManager::AsyncWorkerManager(CHidDfuEngine* owner) : QObject(nullptr), engine(owner) {}

AsyncWorkerManager::~AsyncWorkerManager() {
    // The engine waits for a running operation before it gets here; this is
    // the last guard against destroying a running QThread.
    workerThread.wait();
    deleteLeftWorker();
}

// The worker deletes itself when its thread finishes (deleteLater); where
// that deletion was never delivered (the process ending right after a
// read-back), it goes here, once its thread has stopped.
void AsyncWorkerManager::deleteLeftWorker() {
    delete lastWorker.data();
    lastWorker.clear();
}

void AsyncWorkerManager::startWorker() {
    // The previous worker has delivered its exit code but its thread may still
    // be winding down; QThread::start would ignore a thread that still runs.
    workerThread.wait();
    deleteLeftWorker();
    auto* worker =
        new AsyncWorker(engine->deviceHandle, engine->fileName, int32(engine->featureReportLength),
                        std::move(engine->image), engine->backupBcdDevice);
    engine->image.clear();
    lastWorker = worker;
    worker->moveToThread(&workerThread);

    connect(&workerThread, &QThread::finished, worker, &QObject::deleteLater);
    // The reports are delivered directly on the worker thread (the slots take
    // the engine's state mutex), so they are all stored before the thread
    // stops; a queued delivery would depend on the GUI thread running, which
    // it does not while it waits for an operation to end.
    connect(worker, &AsyncWorker::setMessage, engine, &CHidDfuEngine::SetMsg_,
            Qt::DirectConnection);
    connect(worker, &AsyncWorker::setDefaultMessage, engine, &CHidDfuEngine::SetDefaultMsg_,
            Qt::DirectConnection);
    connect(worker, &AsyncWorker::progressChanged, engine, &CHidDfuEngine::SetProgress_,
            Qt::DirectConnection);
    connect(worker, &AsyncWorker::readBack, engine, &CHidDfuEngine::SetReadBack_,
            Qt::DirectConnection);
    connect(worker, &AsyncWorker::bytesWritten, engine, &CHidDfuEngine::SetBytesWritten_,
            Qt::DirectConnection);
    connect(worker, &AsyncWorker::statusRead, engine, &CHidDfuEngine::SetStatusRead_,
            Qt::DirectConnection);
    connect(worker, &AsyncWorker::exitCode, this, &AsyncWorkerManager::setExitCode,
            Qt::DirectConnection);
    connect(this, &AsyncWorkerManager::doBackup, worker, &AsyncWorker::DoBackup);
    connect(this, &AsyncWorkerManager::doUpgrade, worker, &AsyncWorker::DoUpgrade);

    workerThread.start();
}

void AsyncWorkerManager::setExitCode(int32 exitCode) {
    engine->state.finish(exitCode);
}
