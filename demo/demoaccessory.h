#pragma once
// The accessory the demo program simulates: a healthy device with the timing
// of a real one, so the wizard's progress page moves as it would in the field.

#include "simdevicemodel.h"

namespace demo {

// The feature report length of the real accessory, report ID included.
constexpr uint16_t kFeatureReportLength = 64;
// Announced in every status reply; the device is busy that long after each
// block.
constexpr uint32_t kPollTimeoutMs = 5;
// Time the device takes to handle one report.
constexpr int kReportDelayUs = 1000;
// Size of the firmware the device holds before any upgrade (what a backup
// reads).
constexpr uint32_t kStoredImageLength = 48 * 1024;
// Image length of the firmware file staged beside the demo programs.
constexpr uint32_t kFirmwareImageLength = TAVRIN_FIRMWARE_IMAGE_LENGTH;

// Reports the demo program's device remembers: enough to look at the last
// exchange, bounded so that the program does not grow with each upgrade.
// Tests keep the whole record.
constexpr std::size_t kRecordLimit = 256;

sim::AccessoryConfig accessoryConfig();

} // namespace demo
