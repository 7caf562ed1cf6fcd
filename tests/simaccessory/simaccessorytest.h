#pragma once
// What the simulated accessory's two test programs share: the report
// layouts as bytes, the hidapi calls a host makes, and a bus emptied around
// every test.

#include "simbus.h"
#include "simdevicemodel.h"

#include <hidapi/hidapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace sim {
inline void PrintTo(const Report& report, std::ostream* out) {
    *out << (report.direction == Direction::HostToDevice ? "to device" : "to host") << " id "
         << int(report.reportId) << (report.failed ? " FAILED" : "") << " [";
    for (uint8_t byte : report.bytes) {
        *out << ' ' << std::hex << int(byte) << std::dec;
    }
    *out << " ]";
}
} // namespace sim

namespace simtest {

using Bytes = std::vector<uint8_t>;
using Handle = std::unique_ptr<hid_device, decltype(&hid_close)>;
using sim::Direction;

constexpr uint16_t kVendorId = 0x0A12;
constexpr uint16_t kProductId = 0xFFFE;
constexpr size_t kStatusLength = 7;
constexpr uint8_t kStatusId = 2;
constexpr uint8_t kDataId = 1;
constexpr size_t kDataHeaderLength = 6;
inline const Bytes kClearStatus = {0x03, 0x04};
inline const Bytes kReset = {0x03, 0xFF};

inline Handle open(const std::string& path) {
    return Handle(hid_open_path(path.c_str()), &hid_close);
}

inline Handle open(const sim::DeviceModel& device) {
    return open(sim::Bus::pathOf(device));
}

inline Bytes pattern(size_t size, uint8_t first = 0) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = uint8_t(first + i);
    }
    return bytes;
}

inline Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 02, status, 24-bit poll timeout, state, string index 0.
inline Bytes statusReply(uint8_t status, uint32_t pollTimeoutMs, uint8_t state) {
    return {kStatusId,
            status,
            uint8_t(pollTimeoutMs),
            uint8_t(pollTimeoutMs >> 8),
            uint8_t(pollTimeoutMs >> 16),
            state,
            0};
}

// Data area beyond the counted bytes is `filler`, as a host leaves the
// following file bytes there.
inline Bytes downloadReport(size_t length, uint16_t block, const Bytes& data, uint8_t filler = 0) {
    Bytes report(length, filler);
    report[0] = kDataId;
    report[1] = 0x01;
    report[2] = uint8_t(block);
    report[3] = uint8_t(block >> 8);
    report[4] = uint8_t(data.size());
    report[5] = uint8_t(data.size() >> 8);
    std::copy(data.begin(), data.end(), report.begin() + kDataHeaderLength);
    return report;
}

inline Bytes backupReply(size_t length, uint16_t announced, const Bytes& data) {
    Bytes reply(length, 0);
    reply[0] = kDataId;
    reply[1] = uint8_t(announced);
    reply[2] = uint8_t(announced >> 8);
    std::copy(data.begin(), data.end(), reply.begin() + kDataHeaderLength);
    return reply;
}

inline int send(hid_device* dev, const Bytes& report) {
    return hid_send_feature_report(dev, report.data(), report.size());
}

// The reply as the host sees it, or empty when the read failed.
inline Bytes get(hid_device* dev, uint8_t reportId, size_t length) {
    Bytes buffer(length, 0);
    buffer[0] = reportId;
    const int count = hid_get_feature_report(dev, buffer.data(), buffer.size());
    if (count < 0) {
        return {};
    }
    buffer.resize(size_t(count));
    return buffer;
}

inline Bytes status(hid_device* dev) {
    return get(dev, kStatusId, kStatusLength);
}

inline sim::Report toDevice(const Bytes& bytes, bool failed = false) {
    return {Direction::HostToDevice, bytes[0], bytes, failed};
}

inline sim::Report toHost(const Bytes& bytes) {
    return {Direction::DeviceToHost, bytes[0], bytes, false};
}

inline std::vector<std::string> enumeratedPaths(unsigned short vendorId = 0,
                                                unsigned short productId = 0) {
    std::vector<std::string> paths;
    hid_device_info* list = hid_enumerate(vendorId, productId);
    for (hid_device_info* info = list; info != nullptr; info = info->next) {
        paths.push_back(info->path);
    }
    hid_free_enumeration(list);
    return paths;
}

class SimAccessory : public testing::Test {
protected:
    void SetUp() override { sim::Bus::reset(); }
    void TearDown() override { sim::Bus::reset(); }

    static sim::AccessoryConfig config(uint16_t length = 64) {
        sim::AccessoryConfig c;
        c.featureReportLength = length;
        return c;
    }
};

} // namespace simtest
