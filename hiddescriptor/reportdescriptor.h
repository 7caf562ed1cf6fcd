#pragma once
// Feature report length of a HID interface, taken from its report descriptor.
// Stock hidapi enumerates no report lengths, so the engine reads the
// descriptor itself and computes what the platform's HID capabilities would
// report as the feature report byte length: one byte for the report ID (also
// when the descriptor uses no report IDs) plus the report's bits rounded up to
// whole bytes, for the longest feature report. Plain C++, no Qt, no system:
// where the descriptor comes from is platform/hidaccess.h's to know.

#include <cstddef>
#include <cstdint>
#include <string>

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

} // namespace hiddescriptor
