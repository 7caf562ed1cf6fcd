#include "dfufile.h"
#include "files.h"
#include "testplatform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>
#include <zlib.h>

namespace {

using Bytes = std::vector<uint8_t>;

// This process's folder for the files below, removed at exit.
const std::string& scratchFolder() {
    static const struct Folder {
        std::string path = testplatform::makeTemporaryFolder("tst_dfufile-");
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path;
}

// A file on disk with these bytes, opened as an upgrade opens its file.
struct TempFile {
    explicit TempFile(const Bytes& bytes) {
        static int count = 0;
        path = scratchFolder() + "/" + std::to_string(++count) + ".dfu";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        std::string error;
        file = platform::openRegularFile(path.c_str(), error);
        EXPECT_NE(file, nullptr) << path << ": " << error;
    }
    ~TempFile() {
        if (file)
            std::fclose(file);
        std::remove(path.c_str());
    }
    std::string path;
    std::FILE* file = nullptr;
};

// Recomputes the stored CRC after a mutation, so that a row tests the field
// it changes and not the CRC.
void resealCrc(Bytes& file) {
    dfu::Crc32 crc;
    crc.set(0xFFFFFFFFu);
    const uint32_t value = crc.update(file.data(), file.size() - dfu::kSuffixCrcLength);
    dfu::putLe32(file.data() + file.size() - dfu::kSuffixCrcLength, value);
}

std::size_t suffixAt(const Bytes& file) {
    return file.size() - dfu::kSuffixLength;
}

struct Row {
    const char* name;
    std::function<Bytes()> make;
    int32_t code;
    std::string message;
};

Bytes validFile(uint32_t imageLength = 100) {
    return dfu::makeDfuFile(dfu::makeImage(imageLength));
}

Bytes withSuffixByte(std::size_t field, uint8_t value, std::size_t fileImageLength = 100) {
    Bytes f = validFile(uint32_t(fileImageLength));
    f[suffixAt(f) + field] = value;
    resealCrc(f);
    return f;
}

const Row kRows[] = {
    {"Empty", [] { return Bytes{}; }, -5, "File too short"},
    {"FifteenBytes", [] { return Bytes(15, 0); }, -5, "File too short"},
    {"SixteenBytesValid",
     [] {
         Bytes f = dfu::makeDfuFile({});
         EXPECT_EQ(f.size(), 16u);
         return f;
     },
     0, ""},
    {"BLength15", [] { return withSuffixByte(dfu::kSuffixBLength, 15); }, -5,
     "File suffix is invalid"},
    {"BLength16", [] { return withSuffixByte(dfu::kSuffixBLength, 16); }, 0, ""},
    {"BLength32", [] { return withSuffixByte(dfu::kSuffixBLength, 32); }, 0, ""},
    {"BLengthEqualsFileSize",
     [] {
         Bytes f = dfu::makeDfuFile(Bytes(14, 0));
         f[suffixAt(f) + dfu::kSuffixBLength] = uint8_t(f.size());
         resealCrc(f);
         return f;
     },
     0, ""},
    {"BLengthLargerThanFile",
     [] {
         Bytes f = dfu::makeDfuFile(Bytes(14, 0));
         f[suffixAt(f) + dfu::kSuffixBLength] = uint8_t(f.size() + 1);
         resealCrc(f);
         return f;
     },
     -5, "File suffix is invalid"},
    {"BcdDfu011A",
     [] {
         Bytes f = validFile();
         dfu::putLe16(f.data() + suffixAt(f) + dfu::kSuffixBcdDfu, 0x011A);
         resealCrc(f);
         return f;
     },
     -5, "File suffix is invalid"},
    {"SignatureReversed",
     [] {
         Bytes f = validFile();
         f[suffixAt(f) + dfu::kSuffixSignature] = 'D';
         f[suffixAt(f) + dfu::kSuffixSignature + 2] = 'U';
         resealCrc(f);
         return f;
     },
     -5, "File suffix is invalid"},
    {"ForeignVendorProductDevice",
     [] {
         Bytes f = validFile();
         dfu::putLe16(f.data() + suffixAt(f) + dfu::kSuffixIdVendor, 0x1234);
         dfu::putLe16(f.data() + suffixAt(f) + dfu::kSuffixIdProduct, 0x5678);
         dfu::putLe16(f.data() + suffixAt(f) + dfu::kSuffixBcdDevice, 0x9ABC);
         resealCrc(f);
         return f;
     },
     0, ""},
    {"StoredCrcChanged",
     [] {
         Bytes f = validFile();
         f.back() ^= 0x01;
         return f;
     },
     -6, ""},
    {"LargerThanOneReadPiece", [] { return validFile(200 * 1024 + 7); }, 0, ""},
    // Read as text, CR LF would become LF and 0x1A would end the file
    // (Windows): the CRC tells.
    {"CrLfAndEndOfFileBytes",
     [] {
         Bytes image = dfu::makeImage(100);
         const uint8_t textish[] = {'\r', '\n', 0x1A, '\n', '\r', 0x1A, 0x1A};
         std::copy(std::begin(textish), std::end(textish), image.begin() + 20);
         image[60] = '\r';
         image[61] = '\n';
         return dfu::makeDfuFile(image);
     },
     0, ""},
};

class CheckFileSuffix : public testing::TestWithParam<Row> {};

TEST_P(CheckFileSuffix, GivesCodeAndText) {
    const Row& row = GetParam();
    TempFile f(row.make());
    const dfu::CheckResult r = dfu::checkFileSuffix(f.file);
    EXPECT_EQ(r.code, row.code);
    EXPECT_EQ(r.message, row.message);
    if (r.code == 0 || r.code == -6) {
        EXPECT_EQ(std::ftell(f.file), 0) << "the upgrade reads the image from offset 0";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, CheckFileSuffix, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

// An image of imageSize bytes whose length field says declared.
Bytes imageFile(std::size_t imageSize, uint32_t declared) {
    Bytes image = dfu::makeImage(uint32_t(std::max<std::size_t>(imageSize, 14)));
    image.resize(imageSize);
    if (imageSize >= 14)
        dfu::putLe32(image.data() + dfu::kImageLengthOffset, declared);
    return dfu::makeDfuFile(image);
}

const Row kFileRows[] = {
    {"SuffixOnly", [] { return imageFile(0, 0); }, -5,
     "Image is 0 bytes long; its length field needs 14"},
    {"ImageOf13", [] { return imageFile(13, 0); }, -5,
     "Image is 13 bytes long; its length field needs 14"},
    {"LengthZero", [] { return imageFile(100, 0); }, -5, "Image length field says 0 bytes"},
    {"Length64MiBIn1040Bytes", [] { return imageFile(1024, 64u << 20); }, -5,
     "Image length field says 67108864 bytes; the file holds 1024"},
    {"LengthOnePastTheImage", [] { return imageFile(100, 101); }, -5,
     "Image length field says 101 bytes; the file holds 100"},
    {"LengthInsideTheLongerSuffix",
     [] {
         Bytes f = imageFile(100, 100);
         f[suffixAt(f) + dfu::kSuffixBLength] = 32;
         resealCrc(f);
         return f;
     },
     -5, "Image length field says 100 bytes; the file holds 84"},
    {"LengthEqualsTheImage", [] { return imageFile(14, 14); }, 0, ""},
    {"LengthBelowTheImage", [] { return imageFile(100, 60); }, 0, ""},
    {"SuffixFailsFirst", [] { return Bytes(15, 0); }, -5, "File too short"},
};

class CheckFile : public testing::TestWithParam<Row> {};

TEST_P(CheckFile, GivesCodeAndText) {
    const Row& row = GetParam();
    TempFile f(row.make());
    const dfu::CheckResult r = dfu::checkFile(f.file);
    EXPECT_EQ(r.code, row.code);
    EXPECT_EQ(r.message, row.message);
    if (r.code == 0) {
        EXPECT_EQ(std::ftell(f.file), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, CheckFile, testing::ValuesIn(kFileRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

TEST(OpenRegularFile, RefusesWithoutBlocking) {
    const std::string folder = testplatform::makeTemporaryFolder("tst_dfufile-");
    ASSERT_FALSE(folder.empty());
    // A FIFO, or on Windows a named pipe.
    const std::string fifo = testplatform::makeFifo(folder + "/fifo");
    ASSERT_FALSE(fifo.empty());
    const std::string plain = folder + "/plain";
    std::fclose(std::fopen(plain.c_str(), "wb"));
    const std::string link = folder + "/link", loop = folder + "/loop";
    const std::string dangling = folder + "/dangling";
    // Symbolic links are Linux rows: Windows makes them only with a privilege.
    const bool links = testplatform::isLinux();
    if (links) {
        namespace fs = std::filesystem;
        fs::create_symlink("plain", link);
        fs::create_symlink("loop", loop);
        fs::create_symlink(folder + "/new", dangling);
    }
    const std::string loops = "Too many levels of symbolic links", odd = "not a regular file";
    // The path, openRegularFile's reason, resolveWriteTarget's target or
    // reason, and whether the row runs here.
    const std::tuple<std::string, std::string, std::string, bool> rows[] = {
        {fifo, odd, odd, true},
        {folder, odd, odd, true},
        {plain + "x", "No such file or directory", plain + "x", true},
        {plain, "", plain, true},
        {link, "", folder + "/plain", links},
        {dangling, "No such file or directory", platform::kDanglingLink, links},
        {loop, loops, loops, links},
        {testplatform::nullDevice(), odd, odd, true}};
    for (const auto& [path, reason, target, runs] : rows) {
        if (!runs) {
            std::printf("Row %s skipped: symbolic links are Linux rows\n", path.c_str());
            continue;
        }
        std::string error;
        std::FILE* f = platform::openRegularFile(path.c_str(), error);
        EXPECT_EQ(f != nullptr, reason.empty()) << path;
        EXPECT_EQ(error, reason) << path;
        if (f)
            std::fclose(f);
        std::string why;
        const std::string resolved = platform::resolveWriteTarget(path, why);
        EXPECT_EQ(resolved.empty() ? why : resolved, target) << path;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

TEST(CheckFileSuffixCrc, AnySingleChangedByteBeforeTheCrcFails) {
    const Bytes good = validFile(40);
    for (std::size_t i = 0; i < good.size() - dfu::kSuffixCrcLength; ++i) {
        Bytes bad = good;
        bad[i] ^= 0x5A;
        TempFile f(bad);
        const dfu::CheckResult r = dfu::checkFileSuffix(f.file);
        // Bytes of the suffix's checked fields may fail their own check first.
        if (i >= suffixAt(good) + dfu::kSuffixBcdDfu) {
            EXPECT_NE(r.code, 0) << "byte " << i;
        } else {
            EXPECT_EQ(r.code, -6) << "byte " << i;
        }
    }
}

TEST(Crc32, IsTheComplementOfTheCommonCrc) {
    const Bytes data = dfu::makeImage(1000, 7);
    dfu::Crc32 crc;
    crc.set(0xFFFFFFFFu);
    crc.update(data.data(), 333);
    const uint32_t value = crc.update(data.data() + 333, data.size() - 333);
    EXPECT_EQ(value, ~uint32_t(::crc32(0, data.data(), uInt(data.size()))));
    EXPECT_EQ(crc.update(nullptr, 0), value) << "an empty update reads the register";
}

TEST(Crc32, KnownValue) {
    // The common CRC-32 of "123456789" is 0xCBF43926.
    dfu::Crc32 crc;
    crc.set(0xFFFFFFFFu);
    EXPECT_EQ(crc.update("123456789", 9), ~0xCBF43926u);
}

TEST(MakeDfuFile, SuffixCarriesTheBackupIdentity) {
    const Bytes image = dfu::makeImage(100, 3);
    const Bytes f = dfu::makeDfuFile(image);
    ASSERT_EQ(f.size(), 116u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), f.begin()));
    const uint8_t* s = f.data() + 100;
    EXPECT_EQ(dfu::le16(s + dfu::kSuffixBcdDevice), 0x0001);
    EXPECT_EQ(dfu::le16(s + dfu::kSuffixIdProduct), 0xFFFE);
    EXPECT_EQ(dfu::le16(s + dfu::kSuffixIdVendor), 0x0A12);
    EXPECT_EQ(dfu::le16(s + dfu::kSuffixBcdDfu), 0x0100);
    EXPECT_EQ(Bytes(s + dfu::kSuffixSignature, s + dfu::kSuffixSignature + 3),
              (Bytes{'U', 'F', 'D'}));
    EXPECT_EQ(s[dfu::kSuffixBLength], 16);
    EXPECT_EQ(dfu::le32(image.data() + dfu::kImageLengthOffset), 100u);
}

} // namespace
