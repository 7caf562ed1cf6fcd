#pragma once
// Feature report length of a HID interface, taken from its report descriptor.
// Stock hidapi enumerates no report lengths, so the engine reads the
// descriptor itself and computes what the platform's HID capabilities would
// report as the feature report byte length: one byte for the report ID (also
// when the descriptor uses no report IDs) plus the report's bits rounded up to
// whole bytes, for the longest feature report. Plain C++, no Qt.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hiddescriptor {

struct Result {
    bool ok = false;
    std::string error; // what is wrong with the descriptor when !ok
    int featureReportLength = 0;
};

// Longest feature report in bytes, report ID byte included; 0 when the
// descriptor has none. Never reads outside [data, data + size); a malformed
// descriptor yields ok == false and an error text.
Result longestFeatureReport(const uint8_t* data, size_t size);

// Where the report descriptor of the hidraw node devicePath lives: the node is
// the last path element ("hidraw3" of "/dev/hidraw3"), the descriptor is
// <root>/sys/class/hidraw/<node>/device/report_descriptor with <root> the
// folder above the node's folder ("/" for "/dev/hidraw3"). Empty when the path
// has no node or no folder above the node's folder.
std::string descriptorPath(const std::string& devicePath);

// Reads the report descriptor of the hidraw node that hidapi enumerated as
// devicePath (see descriptorPath). The simulated accessory lays out the same
// tree under a temporary folder, so real and simulated devices take the same
// route. On failure returns false and says why in error; out is then empty.
bool readDescriptor(const std::string& devicePath, std::vector<uint8_t>& out, std::string& error);

} // namespace hiddescriptor
