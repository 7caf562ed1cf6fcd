// bench_load [OPERATIONS] [all]
// OPERATIONS (1000) upgrades and as many backups, alternating, in one
// process: the controller and its progress relay drive the engine against the
// demo program's accessory (its record bound; "all" keeps every report
// instead) without its artificial delays, 4 KiB image. Prints resident memory
// and thread count at the start and the end and the results received per
// operation; asserts nothing.

#include "benchprocess.h"
#include "demoaccessory.h"
#include "dfufile.h"
#include "installator.h"
#include "simbus.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

namespace {

bool writeBeside(const QString& relative, const QByteArray& bytes) {
    const QString path = QCoreApplication::applicationDirPath() + "/" + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QCoreApplication app(argc, argv);
    const int operations = argc > 1 ? std::atoi(argv[1]) : 1000;
    const bool keepAll = argc > 2 && std::string(argv[2]) == "all";
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    const std::vector<uint8_t> firmware = dfu::makeDfuFile(dfu::makeImage(4096, 3));
    writeBeside(
        "Resources/text_copy.json",
        QJsonDocument(QJsonObject{{"copy", QJsonObject{{"dfuUpdateUrl", "load.dfu"}}}}).toJson());
    writeBeside("load.dfu",
                QByteArray(reinterpret_cast<const char*>(firmware.data()), int(firmware.size())));
    sim::AccessoryConfig config = demo::accessoryConfig();
    config.recordLimit = keepAll ? SIZE_MAX : demo::kRecordLimit;
    config.pollTimeoutMs = 0;
    config.reportDelayUs = 0;
    sim::Bus::addAccessory(config);

    installator controller;
    int results = 0, failures = 0, refused = 0;
    QEventLoop loop;
    QObject::connect(&controller, &installator::resultReady, [&](int code) {
        ++results;
        failures += code != 0;
        loop.quit();
    });
    const long rssStart = bench::residentMemoryKiB(), threadsStart = bench::threadCount();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 2 * operations; ++i) {
        // Every success restarts and releases the device; connect again.
        refused += controller.connect() != 0;
        const int before = results;
        refused += (i % 2 ? controller.backup() : controller.upgrade()) != 0;
        while (results == before)
            loop.exec();
    }
    const qint64 ms = timer.elapsed();
    std::printf("%d upgrades and %d backups of 4 KiB in %lld ms (record: %s)\n", operations,
                operations, static_cast<long long>(ms), keepAll ? "every report" : "bounded");
    std::printf("results: %d for %d operations, %d failed, %d calls refused\n", results,
                2 * operations, failures, refused);
    std::printf("resident memory: %ld KiB at the start, %ld KiB at the end\n", rssStart,
                bench::residentMemoryKiB());
    std::printf("threads: %ld at the start, %ld at the end\n", threadsStart, bench::threadCount());
    return 0;
}
