// Where Linux keeps an interface's report descriptor beside its hidraw node,
// and what a reader is told when it is not there.

#include "hidaccess.h"
#include "testplatform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct StoredRow {
    const char* name;
    const char* devicePath; // under the test's folder unless it starts with '/' or is bare
    const char* fileAt;     // under the test's folder; "" for none
    size_t fileSize;
    const char* errorMentions; // "" when the read succeeds
};

const StoredRow kRows[] = {
    {"NodeUnderAnotherRoot", "dev/hidraw12", "sys/class/hidraw/hidraw12/device/report_descriptor",
     9, ""},
    {"EmptyFile", "dev/hidraw12", "sys/class/hidraw/hidraw12/device/report_descriptor", 0, ""},
    {"LargestFile", "dev/hidraw1", "sys/class/hidraw/hidraw1/device/report_descriptor", 65536, ""},
    {"FileTooLarge", "dev/hidraw1", "sys/class/hidraw/hidraw1/device/report_descriptor", 65537,
     "too large"},
    {"MissingFileIsNamed", "dev/hidraw9", "", 0,
     "sys/class/hidraw/hidraw9/device/report_descriptor"},
    {"AnotherNodesFile", "dev/hidraw9", "sys/class/hidraw/hidraw7/device/report_descriptor", 9,
     "hidraw9/device/report_descriptor"},
    {"KernelNodeUnderTheRoot", "/dev/hidraw987654", "", 0,
     "\"/sys/class/hidraw/hidraw987654/device/report_descriptor\""},
    {"NodeWithoutFolder", "hidraw3", "", 0, "\"hidraw3\" names no hidraw node"},
    {"NodeInFileSystemRoot", "/hidraw3", "", 0, "\"/hidraw3\" names no hidraw node"},
    {"FolderWithoutNode", "dev/", "", 0, "names no hidraw node"},
    {"Empty", "", "", 0, "names no hidraw node"},
};

class StoredDescriptor : public testing::TestWithParam<StoredRow> {
protected:
    void SetUp() override {
        root = testplatform::makeTemporaryFolder("hidaccess-");
        ASSERT_FALSE(root.empty());
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    std::filesystem::path root;
};

TEST_P(StoredDescriptor, IsTheFileBesideTheNode) {
    const StoredRow& row = GetParam();
    Bytes bytes(row.fileSize);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + 1);
    if (*row.fileAt) {
        const auto file = root / row.fileAt;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    const std::string devicePath = row.devicePath[0] == '/' || !std::strchr(row.devicePath, '/')
                                       ? std::string(row.devicePath)
                                       : (root / row.devicePath).generic_string();

    Bytes read = {1, 2, 3};
    std::string error;
    const bool ok = platform::readStoredDescriptor(devicePath.c_str(), read, error);
    if (!*row.errorMentions) {
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(read, bytes);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_TRUE(read.empty());
        EXPECT_NE(error.find(row.errorMentions), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Nodes, StoredDescriptor, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<StoredRow>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
