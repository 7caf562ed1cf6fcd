#pragma once
// The yardstick for the engine's pacing: a host that writes the same image
// with the same reports, and after each one sleeps exactly until the report's
// send time plus the device's poll timeout before its one status read. No
// host can finish sooner on a device that is busy that long.

#include <cstdint>
#include <string>
#include <vector>

// Writes image (the file's bytes, suffix included, as the engine sends them)
// through the open hidapi path with reports of reportLength bytes. Returns
// false at the first report that fails or a status that is not ready.
bool referenceUpgrade(const std::string& path, const std::vector<uint8_t>& file,
                      uint32_t imageLength, uint16_t reportLength);
