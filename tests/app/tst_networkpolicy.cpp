// The QML engine's network access: remote content named by QML or rich text
// is refused without a connection; local files still load.
#include "networkpolicy.h"

#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class tst_networkpolicy : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void onlyLocalContentLoads_data();
    void onlyLocalContentLoads();

private:
    QTcpServer m_listener;
    QTemporaryDir m_dir;
};

void tst_networkpolicy::initTestCase() {
    QVERIFY(m_listener.listen(QHostAddress::LocalHost));
    QVERIFY(QImage(4, 4, QImage::Format_RGB32).save(m_dir.filePath("local.png")));
}

void tst_networkpolicy::onlyLocalContentLoads_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("loads");
    const QString remote = QStringLiteral("%1://127.0.0.1:%2/logo.png");
    for (const char* scheme : {"http", "https", "ftp"})
        QTest::newRow(scheme) << remote.arg(scheme).arg(m_listener.serverPort()) << false;
    QTest::newRow("local file") << QUrl::fromLocalFile(m_dir.filePath("local.png")).toString()
                                << true;
}

void tst_networkpolicy::onlyLocalContentLoads() {
    QFETCH(QString, url);
    QFETCH(bool, loads);
    QQmlEngine engine;
    refuseRemoteContent(engine);
    if (!loads)
        QTest::ignoreMessage(QtWarningMsg, qPrintable("Refused to fetch \"" + url + "\""));
    QQmlComponent component(&engine);
    component.setData("import QtQuick 2.0\nImage { source: \"" + url.toUtf8() + "\" }", QUrl());
    const std::unique_ptr<QObject> image(component.create());
    QVERIFY2(image, qPrintable(component.errorString()));
    constexpr int kReady = 1, kError = 3;
    QTRY_COMPARE(image->property("status").toInt(), loads ? kReady : kError);
    QVERIFY(!m_listener.waitForNewConnection(200));
}

QTEST_MAIN(tst_networkpolicy)
#include "tst_networkpolicy.moc"
