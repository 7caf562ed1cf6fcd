#pragma once
// What the engine needs of the system to reach an accessory's HID
// interface, and what a person can do when it cannot.

#include <QLoggingCategory>

#include <cstdint>
#include <string>
#include <vector>

struct hid_device_;
typedef struct hid_device_ hid_device;

namespace platform {

// Where warnOpenFailed logs, under the name the engine's contract gives
// its readers (kHidDfuAdviceLog).
constexpr const char* kAdviceLog = "tavrin.engine.advice";
Q_DECLARE_LOGGING_CATEGORY(adviceLog)

// Byte length of the interface's longest feature report, report ID included,
// read from its report descriptor; 0, with a warning in the message log, when
// it cannot be had. device may be null (not opened): the route that needs no
// open handle is tried alone.
uint16_t featureReportLength(hid_device* device, const char* path);

// The interface's report descriptor as the system keeps it beside the
// device, to be read without opening it: on Linux the hidraw node's file in
// sysfs, <root>/sys/class/hidraw/<node>/device/report_descriptor, <root> the
// folder above the node's ("/" for "/dev/hidraw3"; the simulated accessory
// lays out the same tree under a folder of its own). False, with out empty
// and the reason in error, where there is none.
bool readStoredDescriptor(const char* path, std::vector<uint8_t>& out, std::string& error);

// Logs why the node at path could not be opened (error, or the system's
// answer for it when 0) and what the person can do about it; returns that
// reason, "" when the system gave none.
std::string warnOpenFailed(const char* path, int error);

} // namespace platform
