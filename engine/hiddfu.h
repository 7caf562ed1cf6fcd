#pragma once
// Call interface of the firmware update engine. Every function applies one
// operation to the process's single engine instance and returns 0 or a
// negative result code (see CHidDfuErrorState for the table of codes).

#include <cstdint>

typedef uint8_t uint8;
typedef int32_t int32;

// Opens the first HID interface that matches; usage and usagePage 0 match any.
// Returns -2 when nothing matched or a device is already open.
int32 hidDfuConnect(uint16_t vendorId, uint16_t productId, uint16_t usage, uint16_t usagePage);
// As hidDfuConnect, for the interface enumerated under path only, so that one
// of several accessories can be chosen. -11 for a null or empty path.
int32 hidDfuConnectPath(uint16_t vendorId, uint16_t productId, const char* path);
// Feature report length in bytes, report ID included, of the HID interface at
// path, found the way a connect finds it; 0 when it cannot be had. Needs no
// connection and changes no engine state.
uint16_t hidDfuFeatureReportLength(const char* path);
// Closes the open device; 0 also when none was open, -14 while an operation runs.
int32 hidDfuDisconnect();
// Asks the device to restart and closes it; -1 without a device, -14 while an
// operation runs, -9 when the request cannot be sent (the device stays open).
int32 hidDfuReset();
// Starts reading the device's firmware into a DFU file at path; returns once
// the worker runs. The outcome arrives through hidDfuGetResult.
int32 hidDfuBackup(const char* path);
// As hidDfuBackup, into memory: a comparison with a file then needs no
// temporary file that a full or missing folder could refuse. Once the result
// is 0, hidDfuGetReadBack has the DFU file's bytes.
int32 hidDfuReadBack();
// The DFU file (image and suffix) that the last hidDfuReadBack made, its
// byte count in length; null and 0 when it failed. Valid until the next
// backup, read-back or upgrade starts.
const uint8_t* hidDfuGetReadBack(uint64_t* length);
// Starts writing the DFU file at path to the device; returns once the worker
// runs. The outcome arrives through hidDfuGetResult.
int32 hidDfuUpgrade(const char* path);
// Text of the most recent failure, empty until the first one. The pointer is
// private to the calling thread and stays valid until that thread calls this
// function again, whatever the engine does meanwhile.
const char* hidDfuGetLastError();
// Percent done of the running operation (0..99), 100 when none runs.
uint8 hidDfuGetProgress();
// Exit code of the last operation, or -14 while one runs. Once
// hidDfuGetProgress has answered 100, this answers the ended operation's code
// and hidDfuGetLastError its last message, without the GUI thread having to
// run anything first. Safe to call from any thread.
int32 hidDfuGetResult();
