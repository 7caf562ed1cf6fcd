#pragma once

#include <QObject>
#include <QString>

#include <memory>

// Holds off shutdown, logout and sleep while firmware is written: a machine
// that powers off or suspends mid-write leaves the accessory half-written.
// On Linux a systemd-logind "block" inhibitor lock; where there is no system
// bus or no logind, or the bus does not answer within 2 s, nothing is held, the
// write goes on, and that is said once in the message log.
// On Windows the system is kept awake (SetThreadExecutionState).
class SessionInhibitor : public QObject {
    Q_OBJECT

public:
    enum class Wait {
        No, // the answer is taken up by the event loop: for a window
        Yes // up to a short bound, for a program without an event loop
    };

    // who: the program's name as the session shows it to the person.
    explicit SessionInhibitor(QString who, QObject* parent = nullptr);
    ~SessionInhibitor() override;

    void acquire(Wait wait);
    // Gives the lock back, also one whose answer is still on its way.
    void release();
    bool held() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
