#include "progressrelay.h"

#include "hiddfu.h"
#include "installator.h"

#include <QDebug>

namespace {

constexpr unsigned long kPollIntervalMs = 100;

} // namespace

void Progress::reportProgress() {
    // No sleep before the first query: an operation that is already over is
    // reported at once.
    uint8 progress = hidDfuGetProgress();
    while (progress != kHidDfuNothingRunning) {
        qInfo() << "\r" << int(progress) << "% completed" << Qt::flush;
        emit progressChanged(progress);
        QThread::msleep(kPollIntervalMs);
        progress = hidDfuGetProgress();
    }
    // Once progress has read 100, the engine answers the ended operation's
    // code here, whatever the GUI thread is doing.
    const int32 result = hidDfuGetResult();
    qInfo() << "Upgrade status: " << result << Qt::flush;
    emit resultReady(result);
}

ProgressManager::ProgressManager(installator* owner) : QObject(nullptr), m_owner(owner) {
    auto* progress = new Progress;
    progress->moveToThread(&m_thread);
    // finished is emitted on the relay thread itself, so the polling object
    // is deleted there as the thread ends.
    connect(&m_thread, &QThread::finished, progress, &QObject::deleteLater);
    connect(this, &ProgressManager::startReportingProgress, progress, &Progress::reportProgress);
    connect(progress, &Progress::resultReady, this, &ProgressManager::_resultReady);
    connect(progress, &Progress::progressChanged, this, &ProgressManager::_progressChanged);
    m_thread.start();
}

ProgressManager::~ProgressManager() {
    // The owner is being destroyed; nothing may reach it from here on. The
    // relay's emissions during the wait below are queued to this object and
    // are dropped with it.
    m_owner = nullptr;
    // The quit request is served between runs only: an active run ends when
    // the engine's operation ends, which needs nothing from this thread.
    m_thread.quit();
    m_thread.wait();
}

void ProgressManager::_progressChanged(int progress) {
    if (m_owner)
        emit m_owner->progressChanged(progress);
}

void ProgressManager::_resultReady(int result) {
    if (m_owner)
        emit m_owner->resultReady(result);
}
