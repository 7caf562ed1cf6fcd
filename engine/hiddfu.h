#pragma once
// The engine's contract: the call interface of the firmware update engine,
// its result codes with their texts, and the accessory it serves. Every
// operation applies to the process's single engine instance. Each function
// that can fail returns 0 or a negative result code and then records the last
// error (the code's table text, or a more specific text of the failing step);
// a call that succeeds leaves the last error as it was.

#include <cstdint>
#include <string>

typedef uint8_t uint8;
typedef int32_t int32;

// The accessory: what the wizard connects to and the flasher lists.
constexpr uint16_t kHidDfuVendorId = 0x0A12;
constexpr uint16_t kHidDfuProductId = 0xFFFE;

// The message log category (Qt's) of the engine's lines meant for the person
// at the machine rather than for support: why the accessory could not be
// opened and what to do about it. A program that hides the log shows these.
constexpr const char* kHidDfuAdviceLog = "tavrin.engine.advice";

// What hidDfuGetProgress answers when no operation runs.
constexpr uint8 kHidDfuNothingRunning = 100;

// The largest firmware file an upgrade takes (-5 above it): an accessory of
// this kind holds a few MiB, and the file is held in memory while it is sent.
constexpr uint64_t kHidDfuMaxFirmwareFileBytes = 16u << 20;

// Result codes: 0 for success, a negative code for a failure. The same
// numbers come back from the calls below, through the controller and the
// wizard's error page, and as the flasher's "code".
struct HidDfuResult {
    enum Code : int32 {
        Success = 0,
        InvalidSequence = -1,
        FailedToConnect = -2,
        FailedToOpenFile = -3,
        FailedToWriteFile = -4,
        InvalidFileFormat = -5,
        InvalidFileCrc = -6,
        FileReadFailed = -7,
        UpgradeFailed = -8,
        ResetFailed = -9,
        OutOfMemory = -10,
        InvalidParameter = -11,
        DriverOperationFailed = -12,
        OperationFailedToStart = -13,
        Busy = -14,
        FailedToClearStatus = -15,
        FirmwareCorrupt = -16,
        TimedOut = -17,
        UnknownError = -20,
    };
};

// Why a connect failed, so that a caller can say what to check next without
// reading the message log: the code stays -2 and the text the table's, or the
// one named below.
struct HidDfuConnectFailure {
    enum Cause : int32 {
        None = 0,             // the last error is not a connect's, or there is none
        NoDevice = 1,         // no attached interface matched
        CannotOpen = 2,       // one matched and the system refused to open it
        InUse = 3,            // one matched and another program holds it
                              // ("Accessory is in use by another program (...)")
        AlreadyConnected = 4, // a device was open already ("Already connected")
    };
};

// The table text of code ("" for 0), or "Unknown error code" for a code the
// table lacks. Sets nothing; the pointer stays valid for the process's life.
const char* hidDfuResultText(int32 code);
// Whether code is in the table (0 included). Sets nothing.
bool hidDfuIsResultCode(int32 code);

// Opens the first HID interface that matches; usage and usagePage 0 match any.
// Returns -2 when nothing matched, the match is in use by another program
// (the text names it where it can) or a device is already open. Sets the
// last error on failure.
int32 hidDfuConnect(uint16_t vendorId, uint16_t productId, uint16_t usage, uint16_t usagePage);
// As hidDfuConnect, for the interface enumerated under path only, so that one
// of several accessories can be chosen. -11 for a null or empty path.
int32 hidDfuConnectPath(uint16_t vendorId, uint16_t productId, const char* path);
// Feature report length in bytes, report ID included, of the HID interface at
// path, found the way a connect finds it; 0 when it cannot be had. Needs no
// connection, changes no engine state and sets no last error.
uint16_t hidDfuFeatureReportLength(const char* path);
// How many HID interfaces with these IDs are attached now; in releaseNumber
// (when not null) the USB release number (BCD) the first one reports, 0 when
// none is attached; in serialNumber (when not null) its serial number in
// UTF-8, "" when none is attached or it reports none. Opens nothing, needs
// no connection and sets nothing.
int hidDfuAttachedCount(uint16_t vendorId, uint16_t productId, uint16_t* releaseNumber,
                        std::string* serialNumber = nullptr);
// Closes the open device; 0 also when none was open, -14 while an operation
// runs (last error set).
int32 hidDfuDisconnect();
// Asks the device to restart and closes it; -1 without a device, -14 while an
// operation runs, -9 when the request cannot be sent (the device stays open).
// Sets the last error on failure.
int32 hidDfuReset();
// File names (backup, upgrade) are bytes as the file system takes them: on
// Windows UTF-8, or the ANSI code page's when they are not valid UTF-8.
// Starts reading the device's firmware into a DFU file at path; returns 0
// once the worker runs, or a refusal (-11, -1, -12, -14) with the last error
// set. The outcome arrives through hidDfuGetResult.
int32 hidDfuBackup(const char* path);
// As hidDfuBackup, with the suffix's bcdDevice stating the firmware's version
// as the accessory reports it (its USB release number, BCD) rather than
// 0x0001, which states none: the file then says what it holds. A number that
// states no version (0, not BCD) gives 0x0001.
int32 hidDfuBackupStatingVersion(const char* path, uint16_t releaseNumber);
// As hidDfuBackup, into memory: a comparison with a file then needs no
// temporary file that a full or missing folder could refuse. Once the result
// is 0, hidDfuGetReadBack has the DFU file's bytes.
int32 hidDfuReadBack();
// The DFU file (image and suffix) that the last hidDfuReadBack made, its
// byte count in length; null and 0 when it failed. Valid until the next
// backup, read-back or upgrade starts. Sets nothing.
const uint8_t* hidDfuGetReadBack(uint64_t* length);
// Starts writing the DFU file at path to the device; returns 0 once the
// worker runs, or a refusal (-11, -1, -14) with the last error set. The
// outcome arrives through hidDfuGetResult.
int32 hidDfuUpgrade(const char* path);
// As hidDfuUpgrade, of a DFU file's bytes already in memory: the bytes a
// caller has checked are the bytes sent, whatever happens to the file
// meanwhile. The engine keeps its own copy. -11 for null bytes or length 0.
int32 hidDfuUpgradeImage(const uint8_t* bytes, uint64_t length);
// Text of the most recent failure, empty until the first one. The pointer is
// private to the calling thread and stays valid until that thread calls this
// function again, whatever the engine does meanwhile.
const char* hidDfuGetLastError();
// The cause of the last error (HidDfuConnectFailure) when a failed connect
// set it, None otherwise. In reason (when not null) the system's reason for
// CannotOpen ("Permission denied"), "" when it gave none or for another cause;
// that pointer follows hidDfuGetLastError's rules. Sets nothing.
int32 hidDfuGetConnectFailure(const char** reason);
// Percent done of the running operation (0..99), kHidDfuNothingRunning when
// none runs. Safe to call from any thread; sets nothing.
uint8 hidDfuGetProgress();
// What the last upgrade's write came to, for the report of a write that
// failed or finished: how far it got, and what the accessory said last.
struct HidDfuWriteFacts {
    // Image bytes sent in data reports the accessory took, of totalBytes
    // (the image length field; 0 while the file has not passed its check).
    uint64_t bytesWritten = 0;
    uint64_t totalBytes = 0;
    // bStatus and bState of the last status reply read, -1 before the first.
    int32 dfuStatus = -1;
    int32 dfuState = -1;
};
// The DFU state of an accessory still programming the last block it took
// (dfuDNBUSY): a write that ends on it had not finished in time, which is no
// refusal.
constexpr int32 kHidDfuStateDnBusy = 4;
// The facts of the last upgrade started, also while it runs: each upgrade's
// start resets them; a backup or read-back leaves them. Safe to call from
// any thread; sets nothing.
HidDfuWriteFacts hidDfuGetWriteFacts();
// Exit code of the last operation, or -14 while one runs. Once
// hidDfuGetProgress has answered kHidDfuNothingRunning, this answers the ended
// operation's code and hidDfuGetLastError its last message, without the GUI
// thread having to run anything first. Safe to call from any thread; sets
// nothing.
int32 hidDfuGetResult();
