#pragma once

#include "chiddfuengine.h"
#include "dfufile.h"
#include "hiddfu.h"

#include <QObject>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// Runs one backup or upgrade on the engine's worker thread. Everything it
// needs is copied in at construction; everything it learns leaves through its
// signals. It uses the engine's device handle but never closes it.
class AsyncWorker : public QObject {
    Q_OBJECT

public:
    // An upgrade with an empty file name sends image, the file's bytes; a
    // backup's suffix carries backupBcdDevice.
    AsyncWorker(hid_device* deviceHandle, std::string fileName, int32 featureReportLength,
                std::vector<uint8_t> image = {}, uint16_t backupBcdDevice = dfu::kBackupBcdDevice);
    ~AsyncWorker() override;

signals:
    void setMessage(int32 aErrorCode, std::string aErrorMessage);
    void setDefaultMessage(int32 aErrorCode);
    void progressChanged(uint8 aProgress);
    // An upgrade's image bytes sent in reports the accessory took, of total.
    void bytesWritten(uint64_t written, uint64_t total);
    // Every status reply read: its bStatus and bState.
    void statusRead(uint8 status, uint8 state);
    // A read-back's DFU file, before its exit code (empty when it failed).
    void readBack(std::vector<uint8_t> bytes);
    void exitCode(int32 exitCode);

public slots:
    void DoBackup();
    void DoUpgrade();

private:
    int32 ReportMessage(int32 code, const std::string& text);

    // Report transport; each returns 0 or a negative code it has reported.
    int32 GetStatus(uint8& status, uint8& state);
    int32 ClearStatus();
    int32 DownloadBlock(int32 capacity, uint8_t* report, int64_t& remaining, uint16_t& blockNumber);
    int32 ReadBackupBlock(uint8_t* destination, uint16_t length, uint16_t& dataLength);

    // Reports a file check's failure with its own text or the code's.
    int32 ReportCheck(const dfu::CheckResult& check);
    int32 WaitForStatus(bool sleepFirst);
    // TimedOut, reported, when until lies past the whole write's deadline.
    int32 CheckDeadline(std::chrono::steady_clock::time_point until);
    // The download of a checked file's image, capacity bytes a report.
    int32 SendImage(const std::vector<uint8_t>& bytes, int64_t capacity);
    int32 CompleteUpgrade(uint8_t* report, uint16_t blockNumber);
    // The backup's reads and writes into an open file; DoBackup owns the file.
    int32 runBackup(std::FILE* file);

    // Emits the exit code and ends the worker thread's event loop.
    void finish(int32 result);

    uint32_t pollTimeout = 0;
    // The state of WaitForStatus's last successful read; 0 when none was.
    uint8 lastState = 0;
    // The whole write's bound, set from the image before an upgrade's first
    // report; the device has no say in it.
    uint64_t imageLength = 0;
    std::chrono::steady_clock::time_point startTime;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    hid_device* deviceHandle;
    std::string fileName;
    int32 featureReportLength;
    std::vector<uint8_t> image;
    uint16_t backupBcdDevice;
};
