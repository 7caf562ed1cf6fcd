#include "reportdescriptor.h"

#include <algorithm>
#include <map>
#include <vector>

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

} // namespace hiddescriptor
