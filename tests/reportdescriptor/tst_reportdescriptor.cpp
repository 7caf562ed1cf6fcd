// Feature report lengths computed from report descriptors of real kinds of
// device, written out byte by byte, and the parser's refusal of broken ones.

#include "reportdescriptor.h"
#include "testplatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct LengthRow {
    const char* name;
    Bytes descriptor;
    int featureReportLength;
};

struct BrokenRow {
    const char* name;
    Bytes descriptor;
    const char* errorMentions;
};

template <typename Row> std::string rowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

// HID 1.11 Appendix B.1.
const Bytes kBootKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
};

// HID 1.11 Appendix B.2.
const Bytes kMouse = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
    0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0,
};

// The accessory: status (ID 2, 6 data bytes), command (ID 3, 1 byte) and data
// (ID 1, L - 1 bytes) feature reports; `dataCount` is the Report Count item of
// the data report, in whichever size the value needs.
Bytes accessory(const Bytes& dataCount) {
    Bytes out = {
        0x06, 0x00, 0xFF,       // Usage Page (0xFF00)
        0x09, 0x01,             // Usage (1)
        0xA1, 0x01,             // Collection (Application)
        0x15, 0x00,             //   Logical Minimum (0)
        0x26, 0xFF, 0x00,       //   Logical Maximum (255)
        0x75, 0x08,             //   Report Size (8)
        0x85, 0x02, 0x95, 0x06, //   Report ID (2), Report Count (6)
        0x09, 0x01, 0xB1, 0x02, //   Usage (1), Feature
        0x85, 0x03, 0x95, 0x01, //   Report ID (3), Report Count (1)
        0x09, 0x01, 0xB1, 0x02, //   Usage (1), Feature
        0x85, 0x01,             //   Report ID (1)
    };
    out.insert(out.end(), dataCount.begin(), dataCount.end());
    const Bytes tail = {0x09, 0x01, 0xB1, 0x02, 0xC0};
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

const LengthRow kLengthRows[] = {
    {"BootKeyboardHasNoFeatureReport", kBootKeyboard, 0},
    {"MouseHasNoFeatureReport", kMouse, 0},
    {"Accessory64", accessory({0x95, 0x3F}), 64},
    {"Accessory8", accessory({0x95, 0x07}), 8},
    {"Accessory300WithTwoByteCount", accessory({0x96, 0x2B, 0x01}), 300},
    {"SeveralReportIdsOfDifferentSizes",
     {
         0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                   //
         0x75, 0x10, 0x95, 0x03, 0x85, 0x01, 0x09, 0x01, 0xB1, 0x02, // ID 1: 48 bits
         0x75, 0x01, 0x95, 0x0C, 0x85, 0x05, 0x09, 0x01, 0xB1, 0x02, // ID 5: 12 bits
         0x75, 0x08, 0x95, 0x14, 0x85, 0x07, 0x09, 0x01, 0xB1, 0x02, // ID 7: 160 bits
         0x75, 0x04, 0x95, 0x01, 0x09, 0x01, 0xB1, 0x03,             // ID 7: +4 bits
         0x75, 0x08, 0x95, 0x40, 0x85, 0x09, 0x09, 0x01, 0x81, 0x02, // ID 9: input only
         0x95, 0x30, 0x85, 0x0A, 0x09, 0x01, 0x91, 0x02,             // ID 10: output only
         0xC0,
     },
     22},
    {"ReportIdRevisitedInAnotherCollection",
     {
         0x06, 0x00, 0xFF, 0x09, 0x01, 0x75, 0x08,             //
         0xA1, 0x01, 0x85, 0x02, 0x95, 0x04, 0xB1, 0x02, 0xC0, // ID 2: 4 bytes
         0xA1, 0x01, 0x85, 0x03, 0x95, 0x0A, 0xB1, 0x02, 0xC0, // ID 3: 10 bytes
         0xA1, 0x01, 0x85, 0x02, 0x95, 0x08, 0xB1, 0x02, 0xC0, // ID 2: 8 more
     },
     13},
    {"FeatureWithoutReportIds",
     {
         0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26,
         0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, // input, 64 bytes
         0x95, 0x20, 0x09, 0x01, 0xB1, 0x02,                         // feature, 32 bytes
         0xC0,
     },
     33},
    {"PartialBytesRoundUp",
     {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x03, 0x95, 0x05, 0xB1, 0x02, 0xC0},
     3},
    {"PopRestoresSizeCountAndId",
     {
         0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, //
         0x75, 0x08, 0x95, 0x04, 0x85, 0x01,       // size 8, count 4, ID 1
         0xA4,                                     // Push
         0x75, 0x10, 0x95, 0x0A, 0x85, 0x02,       //   size 16, count 10, ID 2
         0xA4, 0x95, 0x01, 0xB4,                   //   nested Push / Pop
         0xB1, 0x02,                               //   ID 2: 160 bits
         0xB4,                                     // Pop
         0xB1, 0x02, 0xB1, 0x02,                   // ID 1: 2 x 32 bits
         0xC0,
     },
     21},
    // The items line by line, as the formatter would not keep them.
    // clang-format off
    {"LongItemsAreSkipped",
     {
         0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x05,
         0x85, 0x04, 0xFE, 0x04, 0xF1, 0xB1, 0x02, 0xB1, 0x02, // long item whose data looks like
                                                               // features
         0x09, 0x01, 0xB1, 0x02,                               // ID 4: 5 bytes
         0xFE, 0x00, 0xF2,                                     // long item without data
         0xC0,
     },
     6},
    // clang-format on
    {"FourByteAndTwoByteData",
     {
         0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1,
         0x01, 0x77, 0x08, 0x00, 0x00, 0x00, // Report Size (8), four data bytes
         0x97, 0x20, 0x00, 0x00, 0x00,       // Report Count (32), four data bytes
         0x86, 0x05, 0x00,                   // Report ID (5), two data bytes
         0xB3, 0x02, 0x00, 0x00, 0x00,       // Feature, four data bytes
         0xC0,
     },
     33},
    {"LongestRepresentableReport",
     {0x75, 0x08, 0x96, 0xFE, 0xFF, 0x85, 0x01, 0xB1, 0x02}, // 65534 data bytes + ID
     65535},
    {"EmptyDescriptor", {}, 0},
};

class FeatureReportLength : public testing::TestWithParam<LengthRow> {};

TEST_P(FeatureReportLength, IsTheLongestFeatureReportWithItsIdByte) {
    const LengthRow& row = GetParam();
    const hiddescriptor::Result result =
        hiddescriptor::longestFeatureReport(row.descriptor.data(), row.descriptor.size());
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.featureReportLength, row.featureReportLength);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, FeatureReportLength, testing::ValuesIn(kLengthRows),
                         rowName<LengthRow>);

const BrokenRow kBrokenRows[] = {
    {"TruncatedShortItem", {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x26, 0xFF}, "truncated"},
    {"TruncatedFourByteItem", {0x75, 0x08, 0x97, 0x01, 0x00}, "truncated"},
    {"TruncatedLongItemHeader", {0x75, 0x08, 0xFE, 0x04}, "truncated"},
    {"TruncatedLongItemData", {0x75, 0x08, 0xFE, 0x04, 0xF1, 0x01, 0x02}, "truncated"},
    {"PopWithoutPush", {0x75, 0x08, 0xB4}, "Pop"},
    {"MorePopsThanPushes", {0xA4, 0xB4, 0xB4}, "Pop"},
    {"AbsurdSingleItem",
     {0x85, 0x01, 0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0xB1, 0x02},
     "65535 bytes"},
    {"ReportOneByteTooLong", {0x75, 0x08, 0x96, 0xFF, 0xFF, 0x85, 0x01, 0xB1, 0x02}, "65535 bytes"},
    {"ReportIdZero", {0x75, 0x08, 0x95, 0x01, 0x85, 0x00, 0xB1, 0x02}, "Report ID 0"},
    {"ReportIdAbove255", {0x75, 0x08, 0x95, 0x01, 0x86, 0x00, 0x01, 0xB1, 0x02}, "Report ID 256"},
    {"FeatureBeforeFirstReportId",
     {0x75, 0x08, 0x95, 0x02, 0xB1, 0x02, 0x85, 0x01, 0x95, 0x03, 0xB1, 0x02},
     "has no Report ID"},
};

class BrokenDescriptor : public testing::TestWithParam<BrokenRow> {};

TEST_P(BrokenDescriptor, FailsAndSaysWhy) {
    const BrokenRow& row = GetParam();
    // Exactly sized heap copy, so that a read past the end is caught by
    // sanitizers and valgrind.
    const auto copy = std::make_unique<uint8_t[]>(row.descriptor.size());
    std::copy(row.descriptor.begin(), row.descriptor.end(), copy.get());
    const hiddescriptor::Result result =
        hiddescriptor::longestFeatureReport(copy.get(), row.descriptor.size());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.featureReportLength, 0);
    EXPECT_NE(result.error.find(row.errorMentions), std::string::npos) << result.error;
}

INSTANTIATE_TEST_SUITE_P(Descriptors, BrokenDescriptor, testing::ValuesIn(kBrokenRows),
                         rowName<BrokenRow>);

TEST(FeatureReportLengthOfNothing, IsZero) {
    const hiddescriptor::Result result = hiddescriptor::longestFeatureReport(nullptr, 0);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.featureReportLength, 0);
}

struct PathRow {
    const char* name;
    const char* devicePath;
    const char* descriptorPath;
};

const PathRow kPathRows[] = {
    {"KernelNode", "/dev/hidraw3", "/sys/class/hidraw/hidraw3/device/report_descriptor"},
    {"NodeUnderAnotherRoot", "/tmp/bus/dev/hidraw12",
     "/tmp/bus/sys/class/hidraw/hidraw12/device/report_descriptor"},
    {"NodeWithoutFolder", "hidraw3", ""},
    {"NodeInFileSystemRoot", "/hidraw3", ""},
    {"FolderWithoutNode", "/dev/", ""},
    {"Empty", "", ""},
};

class DescriptorPath : public testing::TestWithParam<PathRow> {};

TEST_P(DescriptorPath, LiesBesideTheNodeInSysfs) {
    EXPECT_EQ(hiddescriptor::descriptorPath(GetParam().devicePath), GetParam().descriptorPath);
}

INSTANTIATE_TEST_SUITE_P(Paths, DescriptorPath, testing::ValuesIn(kPathRows), rowName<PathRow>);

class ReadDescriptor : public testing::Test {
protected:
    void SetUp() override {
        root = testplatform::makeTemporaryFolder("reportdescriptor-");
        ASSERT_FALSE(root.empty());
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    std::filesystem::path root;
};

TEST_F(ReadDescriptor, ReadsTheFileBesideTheNode) {
    const auto folder = root / "sys/class/hidraw/hidraw7/device";
    std::filesystem::create_directories(folder);
    const Bytes bytes = accessory({0x95, 0x3F});
    std::ofstream(folder / "report_descriptor", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

    Bytes read;
    std::string error;
    ASSERT_TRUE(hiddescriptor::readDescriptor((root / "dev/hidraw7").generic_string(), read, error))
        << error;
    EXPECT_EQ(read, bytes);
    EXPECT_EQ(hiddescriptor::longestFeatureReport(read.data(), read.size()).featureReportLength,
              64);
}

TEST_F(ReadDescriptor, MissingFileFailsNamingIt) {
    Bytes read = {1, 2, 3};
    std::string error;
    EXPECT_FALSE(
        hiddescriptor::readDescriptor((root / "dev/hidraw9").generic_string(), read, error));
    EXPECT_TRUE(read.empty());
    EXPECT_NE(error.find("sys/class/hidraw/hidraw9/device/report_descriptor"), std::string::npos)
        << error;
}

TEST_F(ReadDescriptor, PathWithoutNodeFails) {
    Bytes read;
    std::string error;
    EXPECT_FALSE(hiddescriptor::readDescriptor("hidraw0", read, error));
    EXPECT_NE(error.find("hidraw0"), std::string::npos) << error;
}

} // namespace
