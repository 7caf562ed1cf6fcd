#include "simdescriptors.h"

#include <iterator>

namespace sim {

namespace {

// Short item prefixes (tag, type and a size code of 0).
constexpr uint8_t kUsagePage = 0x04;
constexpr uint8_t kUsage = 0x08;
constexpr uint8_t kReportCount = 0x94;
constexpr uint8_t kSizeCodeOneByte = 1;
constexpr uint8_t kSizeCodeTwoBytes = 2;

// Appends an item with an unsigned value in as few data bytes as it needs
// (one or two: every value here is 16-bit).
void item(std::vector<uint8_t>& out, uint8_t prefix, uint16_t value) {
    if (value <= 0xFF) {
        out.push_back(prefix | kSizeCodeOneByte);
        out.push_back(uint8_t(value));
    } else {
        out.push_back(prefix | kSizeCodeTwoBytes);
        out.push_back(uint8_t(value & 0xFF));
        out.push_back(uint8_t(value >> 8));
    }
}

constexpr uint8_t kStatusReportId = 2;
constexpr uint8_t kStatusDataBytes = 6;
constexpr uint8_t kCommandReportId = 3;
constexpr uint8_t kCommandDataBytes = 1;
constexpr uint8_t kDataReportId = 1;

} // namespace

std::vector<uint8_t> accessoryDescriptor(uint16_t usagePage, uint16_t usage,
                                         uint16_t featureReportLength) {
    std::vector<uint8_t> out;
    item(out, kUsagePage, usagePage);
    item(out, kUsage, usage);
    const uint8_t header[] = {
        0xA1, 0x01,       // Collection (Application)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8)
    };
    out.insert(out.end(), std::begin(header), std::end(header));
    const auto feature = [&out](uint8_t reportId, uint16_t dataBytes) {
        const uint8_t head[] = {0x85, reportId}; // Report ID
        out.insert(out.end(), std::begin(head), std::end(head));
        item(out, kReportCount, dataBytes);
        const uint8_t tail[] = {
            0x09, 0x01, // Usage (1)
            0xB1, 0x02, // Feature (Data, Variable, Absolute)
        };
        out.insert(out.end(), std::begin(tail), std::end(tail));
    };
    feature(kStatusReportId, kStatusDataBytes);
    feature(kCommandReportId, kCommandDataBytes);
    feature(kDataReportId, featureReportLength > 0 ? featureReportLength - 1 : 0);
    out.push_back(0xC0); // End Collection
    return out;
}

std::vector<uint8_t> bootKeyboardDescriptor() {
    return {
        0x05, 0x01, // Usage Page (Generic Desktop)
        0x09, 0x06, // Usage (Keyboard)
        0xA1, 0x01, // Collection (Application)
        0x05, 0x07, //   Usage Page (Key Codes)
        0x19, 0xE0, //   Usage Minimum (224)
        0x29, 0xE7, //   Usage Maximum (231)
        0x15, 0x00, //   Logical Minimum (0)
        0x25, 0x01, //   Logical Maximum (1)
        0x75, 0x01, //   Report Size (1)
        0x95, 0x08, //   Report Count (8)
        0x81, 0x02, //   Input (Data, Variable, Absolute): modifier byte
        0x95, 0x01, //   Report Count (1)
        0x75, 0x08, //   Report Size (8)
        0x81, 0x01, //   Input (Constant): reserved byte
        0x95, 0x05, //   Report Count (5)
        0x75, 0x01, //   Report Size (1)
        0x05, 0x08, //   Usage Page (LEDs)
        0x19, 0x01, //   Usage Minimum (1)
        0x29, 0x05, //   Usage Maximum (5)
        0x91, 0x02, //   Output (Data, Variable, Absolute): LED report
        0x95, 0x01, //   Report Count (1)
        0x75, 0x03, //   Report Size (3)
        0x91, 0x01, //   Output (Constant): LED report padding
        0x95, 0x06, //   Report Count (6)
        0x75, 0x08, //   Report Size (8)
        0x15, 0x00, //   Logical Minimum (0)
        0x25, 0x65, //   Logical Maximum (101)
        0x05, 0x07, //   Usage Page (Key Codes)
        0x19, 0x00, //   Usage Minimum (0)
        0x29, 0x65, //   Usage Maximum (101)
        0x81, 0x00, //   Input (Data, Array): key array
        0xC0,       // End Collection
    };
}

std::vector<uint8_t> mouseDescriptor() {
    return {
        0x05, 0x01, // Usage Page (Generic Desktop)
        0x09, 0x02, // Usage (Mouse)
        0xA1, 0x01, // Collection (Application)
        0x09, 0x01, //   Usage (Pointer)
        0xA1, 0x00, //   Collection (Physical)
        0x05, 0x09, //     Usage Page (Buttons)
        0x19, 0x01, //     Usage Minimum (1)
        0x29, 0x03, //     Usage Maximum (3)
        0x15, 0x00, //     Logical Minimum (0)
        0x25, 0x01, //     Logical Maximum (1)
        0x95, 0x03, //     Report Count (3)
        0x75, 0x01, //     Report Size (1)
        0x81, 0x02, //     Input (Data, Variable, Absolute): buttons
        0x95, 0x01, //     Report Count (1)
        0x75, 0x05, //     Report Size (5)
        0x81, 0x01, //     Input (Constant): padding
        0x05, 0x01, //     Usage Page (Generic Desktop)
        0x09, 0x30, //     Usage (X)
        0x09, 0x31, //     Usage (Y)
        0x15, 0x81, //     Logical Minimum (-127)
        0x25, 0x7F, //     Logical Maximum (127)
        0x75, 0x08, //     Report Size (8)
        0x95, 0x02, //     Report Count (2)
        0x81, 0x06, //     Input (Data, Variable, Relative)
        0xC0,       //   End Collection
        0xC0,       // End Collection
    };
}

} // namespace sim
