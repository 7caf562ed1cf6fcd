#include "reportdescriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace hiddescriptor {

namespace {

// Item prefix layout of HID 1.11, 6.2.2.2: bits 0-1 size code, 2-3 type,
// 4-7 tag. Size code 3 stands for four data bytes.
constexpr unsigned kSizeMask = 0x03;
constexpr unsigned kTypeShift = 2;
constexpr unsigned kTypeMask = 0x03;
constexpr unsigned kTagShift = 4;
constexpr size_t kShortDataSizes[] = {0, 1, 2, 4};

// Long item: prefix, data size byte, tag byte, then the data.
constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr size_t kLongItemHeaderLength = 3;
constexpr size_t kLongItemDataSize = 1;

constexpr unsigned kTypeMain = 0;
constexpr unsigned kTypeGlobal = 1;

constexpr unsigned kMainInput = 0x8;
constexpr unsigned kMainOutput = 0x9;
constexpr unsigned kMainFeature = 0xB;

constexpr unsigned kGlobalReportSize = 0x7;
constexpr unsigned kGlobalReportId = 0x8;
constexpr unsigned kGlobalReportCount = 0x9;
constexpr unsigned kGlobalPush = 0xA;
constexpr unsigned kGlobalPop = 0xB;

constexpr int kReportIdLength = 1;
constexpr uint32_t kMaxReportId = 0xFF;
// The platform reports lengths in 16 bits and so does the engine: a feature
// report that cannot be described in 16 bits is a broken descriptor.
constexpr uint64_t kMaxReportLength = 0xFFFF;
constexpr uint64_t kMaxReportBits = (kMaxReportLength - kReportIdLength) * 8;

// Report descriptors are at most a few kilobytes (the kernel caps them at
// 4096 bytes); anything far larger is not a descriptor.
constexpr size_t kMaxDescriptorFileSize = 1 << 16;

constexpr const char* kSysfsFolder = "sys/class/hidraw/";
constexpr const char* kDescriptorFile = "/device/report_descriptor";

// The global items this computation needs; Push and Pop save and restore all
// of them together.
struct GlobalState {
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint32_t reportId = 0; // 0: no Report ID item seen (yet)
};

uint32_t littleEndian(const uint8_t* data, size_t size) {
    uint32_t value = 0;
    for (size_t i = size; i > 0; --i) {
        value = (value << 8) | data[i - 1];
    }
    return value;
}

std::string at(size_t offset) {
    return " at offset " + std::to_string(offset);
}

Result failure(std::string error) {
    Result result;
    result.error = std::move(error);
    return result;
}

} // namespace

Result longestFeatureReport(const uint8_t* data, size_t size) {
    if (data == nullptr && size != 0) {
        return failure("no descriptor data");
    }
    GlobalState global;
    std::vector<GlobalState> stack;
    std::map<uint32_t, uint64_t> featureBits; // per report ID
    bool usesReportIds = false;
    bool mainItemWithoutId = false;
    size_t firstMainItemWithoutId = 0;

    size_t offset = 0;
    while (offset < size) {
        const uint8_t prefix = data[offset];
        const size_t remaining = size - offset;
        if (prefix == kLongItemPrefix) {
            // Long items carry nothing that affects report lengths.
            if (remaining < kLongItemHeaderLength) {
                return failure("truncated long item header" + at(offset) + ": needs " +
                               std::to_string(kLongItemHeaderLength) + " bytes, " +
                               std::to_string(remaining) + " remain");
            }
            const size_t dataSize = data[offset + kLongItemDataSize];
            if (remaining - kLongItemHeaderLength < dataSize) {
                return failure("truncated long item" + at(offset) + ": promises " +
                               std::to_string(dataSize) + " data bytes, " +
                               std::to_string(remaining - kLongItemHeaderLength) + " remain");
            }
            offset += kLongItemHeaderLength + dataSize;
            continue;
        }

        const size_t dataSize = kShortDataSizes[prefix & kSizeMask];
        const unsigned type = (prefix >> kTypeShift) & kTypeMask;
        const unsigned tag = prefix >> kTagShift;
        if (remaining - 1 < dataSize) {
            return failure("truncated item" + at(offset) + ": promises " +
                           std::to_string(dataSize) + " data bytes, " +
                           std::to_string(remaining - 1) + " remain");
        }
        const uint32_t value = littleEndian(data + offset + 1, dataSize);

        if (type == kTypeGlobal) {
            switch (tag) {
            case kGlobalReportSize:
                global.reportSize = value;
                break;
            case kGlobalReportCount:
                global.reportCount = value;
                break;
            case kGlobalReportId:
                if (value == 0 || value > kMaxReportId) {
                    return failure("invalid Report ID " + std::to_string(value) + at(offset) +
                                   ": must be 1 to 255");
                }
                global.reportId = value;
                usesReportIds = true;
                break;
            case kGlobalPush:
                stack.push_back(global);
                break;
            case kGlobalPop:
                if (stack.empty()) {
                    return failure("Pop without a matching Push" + at(offset));
                }
                global = stack.back();
                stack.pop_back();
                break;
            default:
                break;
            }
        } else if (type == kTypeMain &&
                   (tag == kMainInput || tag == kMainOutput || tag == kMainFeature)) {
            if (global.reportId == 0 && !mainItemWithoutId) {
                mainItemWithoutId = true;
                firstMainItemWithoutId = offset;
            }
            if (tag == kMainFeature) {
                uint64_t& bits = featureBits[global.reportId];
                // Both factors are below 2^32, so neither the product nor the sum
                // (bits is kept at or below kMaxReportBits) can overflow.
                bits += uint64_t(global.reportSize) * global.reportCount;
                if (bits > kMaxReportBits) {
                    return failure("feature report " + std::to_string(global.reportId) +
                                   " grows beyond " + std::to_string(kMaxReportLength) + " bytes" +
                                   at(offset));
                }
            }
        }
        offset += 1 + dataSize;
    }

    if (usesReportIds && mainItemWithoutId) {
        return failure("main item" + at(firstMainItemWithoutId) +
                       " has no Report ID, but the descriptor uses report IDs");
    }

    Result result;
    result.ok = true;
    for (const auto& report : featureBits) {
        const int length = kReportIdLength + int((report.second + 7) / 8);
        result.featureReportLength = std::max(result.featureReportLength, length);
    }
    return result;
}

std::string descriptorPath(const std::string& devicePath) {
    const size_t nodeStart = devicePath.rfind('/');
    if (nodeStart == std::string::npos || nodeStart + 1 == devicePath.size()) {
        return {};
    }
    const std::string node = devicePath.substr(nodeStart + 1);
    if (nodeStart == 0) {
        return {}; // "/hidraw3": the node's folder is the file system root
    }
    const size_t folderStart = devicePath.rfind('/', nodeStart - 1);
    if (folderStart == std::string::npos) {
        return {};
    }
    const std::string root = devicePath.substr(0, folderStart + 1);
    return root + kSysfsFolder + node + kDescriptorFile;
}

bool readDescriptor(const std::string& devicePath, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    const std::string path = descriptorPath(devicePath);
    if (path.empty()) {
        error = "device path \"" + devicePath + "\" names no hidraw node inside a folder";
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    // sysfs announces a size that is not the descriptor's: read to the end.
    std::vector<uint8_t> bytes(kMaxDescriptorFileSize + 1);
    const size_t count = std::fread(bytes.data(), 1, bytes.size(), file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) {
        error = "cannot read \"" + path + "\"";
        return false;
    }
    if (count > kMaxDescriptorFileSize) {
        error = "\"" + path + "\" is larger than " + std::to_string(kMaxDescriptorFileSize) +
                " bytes, too large for a report descriptor";
        return false;
    }
    bytes.resize(count);
    out = std::move(bytes);
    return true;
}

} // namespace hiddescriptor
