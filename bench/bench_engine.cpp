// bench_engine write FILE MEBIBYTES   writes a valid DFU file of that size
// bench_engine check FILE             "check-ms <the file check> zlib-ms <zlib's
//                                     crc32 over the same bytes, same pieces>"
// bench_engine check-memory FILE      "check-peak-growth-kib <n>": run first
//                                     thing in a fresh process, so nothing
//                                     before it has raised the peak
// bench_engine transfer               upgrade and backup of 256 KiB on a
//                                     device without delays, at L 64 and 1024;
//                                     "overhead-us-per-block <n>" at L 64
// bench_engine pacing KIBIBYTES ROUNDS
//                                     "engine-ms <n> reference-ms <n>": the same
//                                     image written by the engine and by the
//                                     reference host to the demo accessory,
//                                     fastest of ROUNDS each
// bench_engine sleep                  "sleep-ms <wait> median-us <n> p99-us <n>"
//                                     a line per wait of 1, 2, 5 and 20 ms: how
//                                     far past its deadline the worker's sleep
//                                     wakes (Windows rounds sleeps up to its
//                                     timer's period unless asked otherwise)
// Measurements only; nothing is asserted.

#include "benchprocess.h"
#include "demoaccessory.h"
#include "dfufile.h"
#include "hiddfu.h"
#include "referencehost.h"
#include "simbus.h"
#include "workersleep.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void waitIdle() {
    // The worker's sleep: MinGW's standard one sleeps whole milliseconds,
    // rounded down, and 50 us became a spin that took a core from the
    // worker under measure.
    while (hidDfuGetProgress() != kHidDfuNothingRunning)
        workerSleepUntil(workerNow() + std::chrono::microseconds(50));
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

int writeLargeFile(const char* path, unsigned megabytes) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return 1;
    dfu::Crc32 crc;
    std::vector<uint8_t> piece(1 << 20, 0xA5);
    for (unsigned i = 0; i < megabytes; ++i) {
        crc.update(piece.data(), piece.size());
        std::fwrite(piece.data(), 1, piece.size(), f);
    }
    uint8_t suffix[dfu::kSuffixLength];
    dfu::buildBackupSuffix(suffix, crc);
    std::fwrite(suffix, 1, sizeof suffix, f);
    return std::fclose(f) == 0 ? 0 : 1;
}

// What a check would cost with nothing but zlib: the same bytes in pieces of
// the same size.
uLong zlibCrc(std::FILE* f) {
    std::vector<uint8_t> piece(64 * 1024);
    std::fseek(f, 0, SEEK_END);
    long left = std::ftell(f) - long(dfu::kSuffixCrcLength);
    std::fseek(f, 0, SEEK_SET);
    uLong crc = crc32(0, nullptr, 0);
    while (left > 0) {
        const std::size_t got =
            std::fread(piece.data(), 1, std::size_t(std::min<long>(left, long(piece.size()))), f);
        if (got == 0)
            break;
        crc = crc32(crc, piece.data(), uInt(got));
        left -= long(got);
    }
    return crc;
}

int check(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return 1;
    zlibCrc(f); // brings the file into the page cache for both
    // Alternated, and the fastest of each kept: the machine's other load
    // only ever adds time.
    double checkMs = 1e300;
    double zlibMs = 1e300;
    dfu::CheckResult r;
    for (int round = 0; round < 9; ++round) {
        auto start = Clock::now();
        r = dfu::checkFileSuffix(f);
        checkMs = std::min(checkMs, msSince(start));
        start = Clock::now();
        zlibCrc(f);
        zlibMs = std::min(zlibMs, msSince(start));
    }
    std::fclose(f);
    std::printf("check-ms %.3f zlib-ms %.3f result %d\n", checkMs, zlibMs, r.code);
    return r.code == 0 ? 0 : 1;
}

int checkMemory(const char* path) {
    const long before = bench::peakMemoryKiB();
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return 1;
    const dfu::CheckResult r = dfu::checkFileSuffix(f);
    std::fclose(f);
    std::printf("check-peak-growth-kib %ld result %d\n", bench::peakMemoryKiB() - before, r.code);
    return r.code == 0 ? 0 : 1;
}

void transfer(const std::string& dir, uint16_t reportLength) {
    const auto image = dfu::makeImage(256 * 1024);
    sim::Bus::reset();
    sim::AccessoryConfig config;
    config.featureReportLength = reportLength;
    config.storedImage = image;
    sim::Bus::addAccessory(config);
    if (hidDfuConnect(kHidDfuVendorId, kHidDfuProductId, 0, 0) != HidDfuResult::Success) {
        std::printf("connect failed: %s\n", hidDfuGetLastError());
        return;
    }
    const std::string firmware = dir + "/firmware.dfu";
    writeFile(firmware, dfu::makeDfuFile(image));

    auto start = Clock::now();
    hidDfuUpgrade(firmware.c_str());
    waitIdle();
    const double upgradeMs = msSince(start);
    const int upgradeResult = hidDfuGetResult();

    start = Clock::now();
    hidDfuBackup((dir + "/firmware.backup").c_str());
    waitIdle();
    const double backupMs = msSince(start);
    const int backupResult = hidDfuGetResult();
    hidDfuDisconnect();

    const double blocks = double(image.size()) / (reportLength - 6);
    std::printf("L %4u: upgrade of 256 KiB %.1f ms (%.0f blocks/s, result %d), "
                "backup %.1f ms (result %d)\n",
                reportLength, upgradeMs, blocks * 1000.0 / upgradeMs, upgradeResult, backupMs,
                backupResult);
    if (reportLength == 64)
        std::printf("overhead-us-per-block %.3f\n", upgradeMs * 1000.0 / blocks);
}

int pacing(const std::string& dir, unsigned kibibytes, unsigned rounds) {
    const auto image = dfu::makeImage(kibibytes * 1024);
    const auto file = dfu::makeDfuFile(image);
    const std::string firmware = dir + "/firmware.dfu";
    writeFile(firmware, file);
    // Alternated, and the fastest of each kept: the machine's other load only
    // ever adds time, and a ratio of single runs would mostly measure it.
    double engineMs = 1e300;
    double referenceMs = 1e300;
    bool ok = true;
    for (unsigned round = 0; round < rounds && ok; ++round) {
        sim::Bus::reset();
        // addAccessory copies the configuration; GCC 14 takes the reference
        // it returns for one into its argument, so that is no temporary.
        const sim::AccessoryConfig config = demo::accessoryConfig();
        const sim::DeviceModel& device = sim::Bus::addAccessory(config);
        if (hidDfuConnect(kHidDfuVendorId, kHidDfuProductId, 0, 0) != HidDfuResult::Success)
            return 1;
        auto start = Clock::now();
        hidDfuUpgrade(firmware.c_str());
        waitIdle();
        engineMs = std::min(engineMs, msSince(start));
        ok = hidDfuGetResult() == HidDfuResult::Success;
        hidDfuDisconnect();

        start = Clock::now();
        ok = referenceUpgrade(sim::Bus::pathOf(device), file, uint32_t(image.size()),
                              demo::kFeatureReportLength) &&
             ok;
        referenceMs = std::min(referenceMs, msSince(start));
    }
    std::printf("engine-ms %.3f reference-ms %.3f %s\n", engineMs, referenceMs,
                ok ? "ok" : "failed");
    return ok ? 0 : 1;
}

int sleepOvershoot() {
    constexpr int kWaits = 200;
    for (const int ms : {1, 2, 5, 20}) {
        std::vector<double> late;
        for (int i = 0; i < (ms >= 20 ? kWaits / 4 : kWaits); ++i) {
            const auto deadline = workerNow() + std::chrono::milliseconds(ms);
            workerSleepUntil(deadline);
            late.push_back(
                std::chrono::duration<double, std::micro>(workerNow() - deadline).count());
        }
        std::sort(late.begin(), late.end());
        std::printf("sleep-ms %d median-us %.0f p99-us %.0f\n", ms, late[late.size() / 2],
                    late[late.size() * 99 / 100]);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write" && argc == 4)
        return writeLargeFile(argv[2], unsigned(std::strtoul(argv[3], nullptr, 10)));
    if (mode == "check" && argc == 3)
        return check(argv[2]);
    if (mode == "check-memory" && argc == 3)
        return checkMemory(argv[2]);
    if (mode == "sleep" && argc == 2)
        return sleepOvershoot();

    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    if (mode == "transfer" && argc == 2) {
        transfer(path, 64);
        transfer(path, 1024);
        return 0;
    }
    if (mode == "pacing" && argc == 4)
        return pacing(path, unsigned(std::strtoul(argv[2], nullptr, 10)),
                      unsigned(std::strtoul(argv[3], nullptr, 10)));
    std::fprintf(stderr, "usage: see the head of bench_engine.cpp\n");
    return 2;
}
