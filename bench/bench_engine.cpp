// bench_engine [MEGABYTES]
// Measures, on the in-process simulated accessory without artificial delays:
//  - the DFU file check (time and peak memory) on a file of MEGABYTES (64);
//  - an upgrade and a backup of a 256 KiB image at report length 64 and 1024.
// Prints one line per measurement; asserts nothing.

#include "chiddfuengine.h"
#include "dfufile.h"
#include "hiddfu.h"
#include "simbus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void waitIdle() {
    while (hidDfuGetProgress() != 100)
        QThread::usleep(200);
}

bool writeFile(const QString& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

void benchFileCheck(const QString& dir, unsigned megabytes) {
    const QString path = dir + "/large.dfu";
    {
        // Written piece by piece so that the benchmark itself stays small.
        std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "wb");
        dfu::Crc32 crc;
        std::vector<uint8_t> piece(1 << 20, 0xA5);
        for (unsigned i = 0; i < megabytes; ++i) {
            crc.update(piece.data(), piece.size());
            std::fwrite(piece.data(), 1, piece.size(), f);
        }
        uint8_t suffix[dfu::kSuffixLength];
        dfu::buildBackupSuffix(suffix, crc);
        std::fwrite(suffix, 1, sizeof suffix, f);
        std::fclose(f);
    }
    const long before = peakRssKiB();
    std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "rb");
    QElapsedTimer t;
    t.start();
    const dfu::CheckResult r = dfu::checkFileSuffix(f);
    const qint64 ms = t.elapsed();
    std::fclose(f);
    std::printf(
        "file check: %u MiB in %lld ms (%.0f MiB/s), result %d, peak memory grew by %ld KiB\n",
        megabytes, static_cast<long long>(ms), ms ? megabytes * 1000.0 / ms : 0.0, r.code,
        peakRssKiB() - before);
}

void benchTransfer(const QString& dir, uint16_t reportLength) {
    const auto image = dfu::makeImage(256 * 1024);
    sim::Bus::reset();
    sim::AccessoryConfig config;
    config.featureReportLength = reportLength;
    config.storedImage = image;
    sim::Bus::addAccessory(config);
    if (hidDfuConnect(0x0A12, 0xFFFE, 0, 0) != 0) {
        std::printf("connect failed: %s\n", hidDfuGetLastError());
        return;
    }
    const QString firmware = dir + "/firmware.dfu";
    writeFile(firmware, dfu::makeDfuFile(image));

    QElapsedTimer t;
    t.start();
    hidDfuUpgrade(firmware.toLocal8Bit().constData());
    waitIdle();
    const qint64 upgradeMs = t.elapsed();
    const int upgradeResult = hidDfuGetResult();

    t.restart();
    hidDfuBackup((dir + "/firmware.backup").toLocal8Bit().constData());
    waitIdle();
    const qint64 backupMs = t.elapsed();
    const int backupResult = hidDfuGetResult();
    hidDfuDisconnect();

    const double blocks = double(image.size()) / (reportLength - 6);
    std::printf("L %4u: upgrade of 256 KiB %lld ms (%.0f blocks/s, result %d), "
                "backup %lld ms (result %d)\n",
                reportLength, static_cast<long long>(upgradeMs),
                upgradeMs ? blocks * 1000.0 / upgradeMs : 0.0, upgradeResult,
                static_cast<long long>(backupMs), backupResult);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const unsigned megabytes = argc > 1 ? unsigned(std::strtoul(argv[1], nullptr, 10)) : 64;
    QTemporaryDir dir;
    benchFileCheck(dir.path(), megabytes);
    benchTransfer(dir.path(), 64);
    benchTransfer(dir.path(), 1024);
    return 0;
}
