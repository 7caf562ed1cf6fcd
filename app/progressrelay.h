#pragma once
// Carries the progress and the result of a backup or an upgrade from the
// engine to the controller. The polling runs on a thread of their own, so the
// GUI thread never waits for the engine.

#include <QObject>
#include <QThread>

class installator;

// Lives on the relay thread. One polling run per reportProgress() call;
// runs queued on the thread's event loop execute one after the other.
class Progress : public QObject {
    Q_OBJECT

signals:
    // A percentage below 100, one per poll.
    void progressChanged(int progress);
    // The engine's result once no operation runs; exactly one per run.
    void resultReady(int result);

public slots:
    void reportProgress();
};

// Owned by the controller and living in the GUI thread; re-emits the relay's
// values as the owner's signals.
class ProgressManager : public QObject {
    Q_OBJECT

public:
    // Starts the relay thread; owner must outlive this object.
    explicit ProgressManager(installator* owner);
    // Quits the relay thread and waits for it without a time limit: a run in
    // progress ends first, once the engine's operation has ended. Nothing is
    // emitted on the owner once destruction has begun.
    ~ProgressManager() override;

signals:
    // Queues one polling run.
    void startReportingProgress();

public slots:
    void _progressChanged(int progress);
    void _resultReady(int result);

private:
    installator* m_owner;
    QThread m_thread;
};
