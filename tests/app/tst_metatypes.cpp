// The names of the engine's cross-thread argument types, as start-up
// registers them, carry values across threads intact.
#include "startup.h"

#include <QtTest>

#include <climits>
#include <string>

typedef uint8_t uint8;
typedef int32_t int32;

// Emits from whichever thread it lives in, with the argument types written as
// the engine's worker writes them.
class Sender : public QObject {
    Q_OBJECT
signals:
    void progress(uint8 value);
    void code(int32 value);
    void message(std::string value);

public slots:
    void fire(int progressValue, int codeValue, const QByteArray& messageBytes) {
        emit progress(uint8(progressValue));
        emit code(codeValue);
        emit message(std::string(messageBytes.constData(), size_t(messageBytes.size())));
    }
};

class Receiver : public QObject {
    Q_OBJECT
public:
    int received = 0;
    uint8 progressValue = 0;
    int32 codeValue = 0;
    std::string messageValue;
    bool allOnMyThread = true;

public slots:
    void onProgress(uint8 value) {
        note();
        progressValue = value;
    }
    void onCode(int32 value) {
        note();
        codeValue = value;
    }
    void onMessage(std::string value) {
        note();
        messageValue = value;
    }

private:
    void note() {
        allOnMyThread = allOnMyThread && QThread::currentThread() == thread();
        ++received;
    }
};

class tst_metatypes : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void registeredTypes();
    void queuedAcrossThreads_data();
    void queuedAcrossThreads();
};

void tst_metatypes::initTestCase() {
    // The names are unknown to Qt until start-up registers them.
    QCOMPARE(QMetaType::type("uint8"), int(QMetaType::UnknownType));
    QCOMPARE(QMetaType::type("int32"), int(QMetaType::UnknownType));
    QCOMPARE(QMetaType::type("std::string"), int(QMetaType::UnknownType));
    registerEngineMetaTypes();
}

void tst_metatypes::registeredTypes() {
    QCOMPARE(QMetaType::type("uint8"), int(QMetaType::UChar));
    QCOMPARE(QMetaType::type("int32"), int(QMetaType::Int));

    const int stringType = QMetaType::type("std::string");
    QVERIFY(stringType >= int(QMetaType::User));
    QCOMPARE(QMetaType::typeName(stringType), "std::string");
    const QMetaType::TypeFlags flags = QMetaType::typeFlags(stringType);
    QVERIFY(flags.testFlag(QMetaType::NeedsConstruction));
    QVERIFY(flags.testFlag(QMetaType::NeedsDestruction));
    QVERIFY(!flags.testFlag(QMetaType::MovableType));
    QVERIFY(!flags.testFlag(QMetaType::PointerToQObject));
    QCOMPARE(QMetaType::metaObjectForType(stringType), nullptr);
}

void tst_metatypes::queuedAcrossThreads_data() {
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("start") << 0 << 0 << QByteArray("");
    QTest::newRow("midway") << 57 << -12 << QByteArray("Failed to write to device");
    QTest::newRow("extremes") << 255 << int(INT_MIN) << QByteArray("\xff\x00\x80 end", 7);
    QTest::newRow("nothing running") << 100 << -20 << QByteArray("Unknown error");
}

void tst_metatypes::queuedAcrossThreads() {
    QFETCH(int, progress);
    QFETCH(int, code);
    QFETCH(QByteArray, message);

    QThread thread;
    Sender sender;
    sender.moveToThread(&thread);
    Receiver receiver;
    // Connected by signature, as queued connections look the names up.
    QVERIFY(connect(&sender, SIGNAL(progress(uint8)), &receiver, SLOT(onProgress(uint8))));
    QVERIFY(connect(&sender, SIGNAL(code(int32)), &receiver, SLOT(onCode(int32))));
    QVERIFY(
        connect(&sender, SIGNAL(message(std::string)), &receiver, SLOT(onMessage(std::string))));
    thread.start();

    QVERIFY(QMetaObject::invokeMethod(&sender, "fire", Qt::QueuedConnection, Q_ARG(int, progress),
                                      Q_ARG(int, code), Q_ARG(QByteArray, message)));
    QTRY_COMPARE(receiver.received, 3);
    thread.quit();
    QVERIFY(thread.wait());

    QVERIFY(receiver.allOnMyThread);
    QCOMPARE(int(receiver.progressValue), progress);
    QCOMPARE(receiver.codeValue, code);
    QCOMPARE(QByteArray(receiver.messageValue.data(), int(receiver.messageValue.size())), message);
}

QTEST_GUILESS_MAIN(tst_metatypes)
#include "tst_metatypes.moc"
