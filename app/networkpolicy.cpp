#include "networkpolicy.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QQmlEngine>
#include <QQmlNetworkAccessManagerFactory>

namespace {

class LocalOnlyAccess : public QNetworkAccessManager {
public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request,
                                 QIODevice* outgoing) override {
        const QUrl url = request.url();
        if (url.isLocalFile() || url.scheme() == QLatin1String("qrc"))
            return QNetworkAccessManager::createRequest(op, request, outgoing);
        qWarning() << "Refused to fetch" << url.toString();
        // A request without a URL fails with an error reply and reaches no
        // network, as a refusal should.
        QNetworkRequest refused(request);
        refused.setUrl(QUrl());
        return QNetworkAccessManager::createRequest(op, refused, outgoing);
    }
};

// Called by the QML engine on any of its threads; holds no state.
class LocalOnlyFactory : public QQmlNetworkAccessManagerFactory {
public:
    QNetworkAccessManager* create(QObject* parent) override { return new LocalOnlyAccess(parent); }
};

} // namespace

void refuseRemoteContent(QQmlEngine& engine) {
    static LocalOnlyFactory factory;
    engine.setNetworkAccessManagerFactory(&factory);
}
