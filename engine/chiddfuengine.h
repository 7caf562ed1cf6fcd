#pragma once

#include "asyncworkermanager.h"
#include "chiddfuerrorstate.h"
#include "devicelock.h"
#include "dfufile.h"
#include "enginestate.h"
#include "hiddfu.h"

#include <QObject>

#include <string>
#include <vector>

struct hid_device_;
typedef struct hid_device_ hid_device;

// The firmware update engine. One instance serves the process (see
// hidDfuEngine()); the free functions of hiddfu.h call it. Connect,
// disconnect, reset and the starts run on the caller's (GUI) thread; backup
// and upgrade run on the worker manager's thread.
//
// Thread safety: whether an operation runs, its progress, the last exit code,
// the error state and the last write's facts live in an EngineState, written
// by the worker's reports on the worker thread and read from the GUI and
// relay threads. The worker's reports reach the slots directly on the worker
// thread, and its exit code, the last of them, is what ends "running": a
// caller that sees "not running" sees the operation's final code and text,
// whether or not the GUI thread's event loop runs, and no query can slip in
// between.
class CHidDfuEngine : public QObject {
    Q_OBJECT

public:
    CHidDfuEngine();
    // Waits for a running operation to end (it cannot be stopped safely
    // mid-transfer), then closes an open device.
    ~CHidDfuEngine() override;

    int32 Connect(uint16_t vendorId, uint16_t productId, uint16_t usage, uint16_t usagePage);
    int32 ConnectPath(uint16_t vendorId, uint16_t productId, const char* path);
    int32 Disconnect();
    int32 Reset();
    int32 Backup(const char* path, uint16_t bcdDevice = dfu::kBackupBcdDevice);
    int32 ReadBack();
    const std::vector<uint8_t>& readBackBytes() const { return readBack; }
    int32 Upgrade(const char* path);
    int32 UpgradeImage(const uint8_t* bytes, uint64_t length);
    std::string LastError() const;
    int32 ConnectFailure(std::string& reason) const;
    uint8 Progress() const;
    int32 Result();
    HidDfuWriteFacts WriteFacts() const;

    bool isRunning() const;
    uint16_t reportLength() const { return featureReportLength; }

public slots:
    void SetDefaultMsg_(int32 aErrorCode);
    void SetMsg_(int32 aErrorCode, std::string aErrorMessage);
    void SetProgress_(uint8 aProgress);
    void SetReadBack_(std::vector<uint8_t> bytes);
    void SetBytesWritten_(uint64_t written, uint64_t total);
    void SetStatusRead_(uint8 status, uint8 dfuState);

private:
    friend class AsyncWorkerManager;

    // The first enumerated interface that matches every filter; path null
    // matches any path.
    int32 connectFirst(uint16_t vendorId, uint16_t productId, uint16_t usage, uint16_t usagePage,
                       const char* path);
    // The checks a backup and a read-back share, then the start; path ""
    // reads into memory.
    int32 startReading(const char* path, uint16_t bcdDevice);
    int32 startOperation(const char* path, void (AsyncWorkerManager::*signal)());
    // The checks an upgrade from a file and from bytes share.
    int32 refuseUpgrade();

    hid_device* deviceHandle = nullptr;
    // Held while deviceHandle is open.
    DeviceLock deviceLock;
    uint16_t featureReportLength = 0;
    std::string fileName;
    // An upgrade's file bytes when a caller gave them instead of a name;
    // handed to its worker.
    std::vector<uint8_t> image;
    // The bcdDevice of the next backup's suffix; handed to its worker.
    uint16_t backupBcdDevice = dfu::kBackupBcdDevice;
    // Written by the worker of a read-back before its exit code, read once
    // the engine is idle: EngineState's mutex orders the two.
    std::vector<uint8_t> readBack;
    // Running from a start until the worker has delivered its exit code; the
    // worker thread itself may take a moment longer to wind down.
    EngineState state;
    AsyncWorkerManager workerManager;
};

// The process's engine, constructed during static initialisation.
CHidDfuEngine& hidDfuEngine();
