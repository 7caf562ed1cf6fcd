#pragma once
// Report descriptors of the simulated HID interfaces, byte for byte as a
// device would hand them to the host.

#include <cstdint>
#include <vector>

namespace sim {

// The accessory's vendor-defined interface: feature reports ID 2 (status,
// 6 data bytes), ID 3 (command, 1 byte) and ID 1 (data, L - 1 bytes).
std::vector<uint8_t> accessoryDescriptor(uint16_t usagePage, uint16_t usage,
                                         uint16_t featureReportLength);
// The boot keyboard and the three-button mouse of HID 1.11, Appendix B: input
// and output reports only, no feature report.
std::vector<uint8_t> bootKeyboardDescriptor();
std::vector<uint8_t> mouseDescriptor();

} // namespace sim
