#include "sessioninhibitor.h"

#include <QAtomicInteger>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QDeadlineTimer>
#include <QDebug>

namespace {
const char* const kService = "org.freedesktop.login1";
const char* const kPath = "/org/freedesktop/login1";
const char* const kInterface = "org.freedesktop.login1.Manager";
const char* const kWhat = "shutdown:sleep";
const char* const kWhy = "Writing firmware to the accessory";
const char* const kMode = "block";
// logind answers at once; a bus that does not must not hold up a write. The
// bound covers joining the bus and the Inhibit call together.
constexpr int kWaitMs = 2000;
// Where the system bus is when the environment names none (the D-Bus
// specification's default).
const char* const kDefaultSystemBus = "unix:path=/var/run/dbus/system_bus_socket";

QString systemBusAddress() {
    const QString named = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    return named.isEmpty() ? QString::fromLatin1(kDefaultSystemBus) : named;
}

int remainingMs(const QDeadlineTimer& deadline) {
    return int(qMax<qint64>(1, deadline.remainingTime()));
}
} // namespace

struct SessionInhibitor::Private {
    SessionInhibitor* q = nullptr;
    QString who;
    // logind keeps the lock while this descriptor stays open.
    QDBusUnixFileDescriptor lock;
    // Counts acquire() calls, so that a late answer to an old one is dropped.
    quint64 generation = 0;
    bool wanted = false;
    bool told = false;
    // Not QDBusConnection::systemBus(): it joins the bus (Hello) without a
    // time limit on Qt's D-Bus thread, which the caller and the program's
    // exit both wait for, so a bus that accepts and never answers hangs the
    // program. This connection of our own is opened as a peer's and joins by
    // a Hello of ours, bounded like any call. Its name, empty when there is
    // none; joined once the bus answered the Hello.
    QString connection;
    bool joined = false;

    void tell(const QString& why) {
        if (!told)
            qWarning().noquote() << "Shutdown and sleep are not held off during the write:" << why;
        told = true;
    }

    // Closes the connection; the next acquire() opens a new one.
    void leave() {
        if (!connection.isEmpty())
            QDBusConnection::disconnectFromPeer(connection);
        connection.clear();
        joined = false;
    }

    // Takes the bus's answer to the Hello on connection name: whether it joined.
    bool welcome(const QDBusMessage& answer, const QString& name) {
        if (name != connection)
            return false; // left in the meantime
        if (answer.type() == QDBusMessage::ReplyMessage) {
            joined = true;
            return true;
        }
        tell(answer.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply")
                 ? QStringLiteral("the system bus did not answer within %1 s").arg(kWaitMs / 1000)
                 : answer.errorMessage());
        leave();
        return false;
    }

    void inhibit(SessionInhibitor::Wait wait, quint64 asked, const QDeadlineTimer& deadline) {
        QDBusConnection bus(connection);
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Inhibit");
        call << QString(kWhat) << who << QString(kWhy) << QString(kMode);
        if (wait == Wait::Yes) {
            take(bus.call(call, QDBus::Block, remainingMs(deadline)), asked);
            return;
        }
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, remainingMs(deadline)), q);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, q,
                         [this, asked](QDBusPendingCallWatcher* answer) {
                             take(*answer, asked);
                             answer->deleteLater();
                         });
    }

    void take(const QDBusPendingReply<QDBusUnixFileDescriptor>& reply, quint64 asked) {
        if (reply.isError()) {
            tell(reply.error().message());
            return;
        }
        if (wanted && asked == generation)
            lock = reply.value();
    }
};

SessionInhibitor::SessionInhibitor(QString who, QObject* parent) : QObject(parent), d(new Private) {
    d->q = this;
    d->who = std::move(who);
}

SessionInhibitor::~SessionInhibitor() {
    d->leave();
}

void SessionInhibitor::acquire(Wait wait) {
    release();
    d->wanted = true;
    const quint64 asked = ++d->generation;
    const QDeadlineTimer deadline(kWaitMs);
    if (d->joined) {
        d->inhibit(wait, asked, deadline);
        return;
    }
    d->leave();
    // Unique in the process: connectToPeer() hands out an open connection of the same name.
    static QAtomicInteger<quint64> opened;
    const QString name = QStringLiteral("tavrin-inhibitor-%1").arg(++opened);
    d->connection = name;
    QDBusConnection bus = QDBusConnection::connectToPeer(systemBusAddress(), name);
    if (!bus.isConnected()) {
        d->tell(QStringLiteral("no system bus"));
        d->leave();
        return;
    }
    const QDBusMessage hello = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "Hello");
    if (wait == Wait::Yes) {
        if (d->welcome(bus.call(hello, QDBus::Block, remainingMs(deadline)), name))
            d->inhibit(wait, asked, deadline);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(hello, remainingMs(deadline)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, asked, name, deadline](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                if (d->welcome(answer->reply(), name) && d->wanted && asked == d->generation)
                    d->inhibit(Wait::No, asked, deadline);
            });
}

void SessionInhibitor::release() {
    d->wanted = false;
    d->lock = QDBusUnixFileDescriptor();
}

bool SessionInhibitor::held() const {
    return d->lock.isValid();
}
