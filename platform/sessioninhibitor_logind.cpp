#include "sessioninhibitor.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QDebug>

namespace {
const char* const kService = "org.freedesktop.login1";
const char* const kPath = "/org/freedesktop/login1";
const char* const kInterface = "org.freedesktop.login1.Manager";
const char* const kWhat = "shutdown:sleep";
const char* const kWhy = "Writing firmware to the accessory";
const char* const kMode = "block";
// logind answers at once; a bus that does not must not hold up a write.
constexpr int kWaitMs = 2000;
} // namespace

struct SessionInhibitor::Private {
    QString who;
    // logind keeps the lock while this descriptor stays open.
    QDBusUnixFileDescriptor lock;
    // Counts acquire() calls, so that a late answer to an old one is dropped.
    quint64 generation = 0;
    bool wanted = false;
    bool told = false;

    void take(const QDBusPendingReply<QDBusUnixFileDescriptor>& reply, quint64 asked) {
        if (reply.isError()) {
            if (!told)
                qWarning() << "Shutdown and sleep are not held off during the write:"
                           << reply.error().message();
            told = true;
            return;
        }
        if (wanted && asked == generation)
            lock = reply.value();
    }
};

SessionInhibitor::SessionInhibitor(QString who, QObject* parent) : QObject(parent), d(new Private) {
    d->who = std::move(who);
}

SessionInhibitor::~SessionInhibitor() = default;

void SessionInhibitor::acquire(Wait wait) {
    release();
    d->wanted = true;
    const quint64 asked = ++d->generation;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        if (!d->told)
            qWarning() << "Shutdown and sleep are not held off during the write:"
                       << "no system bus";
        d->told = true;
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Inhibit");
    call << QString(kWhat) << d->who << QString(kWhy) << QString(kMode);
    if (wait == Wait::Yes) {
        d->take(bus.call(call, QDBus::Block, kWaitMs), asked);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kWaitMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, asked](QDBusPendingCallWatcher* answer) {
                d->take(*answer, asked);
                answer->deleteLater();
            });
}

void SessionInhibitor::release() {
    d->wanted = false;
    d->lock = QDBusUnixFileDescriptor();
}

bool SessionInhibitor::held() const {
    return d->lock.isValid();
}
