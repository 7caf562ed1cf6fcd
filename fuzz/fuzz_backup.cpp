// The backup against a device whose replies come from the input (its first
// byte chooses the report length, 7 to 70). A backup that succeeds has
// written a file that passes the file check, whose length field equals its
// image length and whose image is exactly the data the replies delivered; one
// that fails has left the previous backup as it was.
#include "dfufile.h"
#include "fuzzdevice.h"
#include "fuzzworker.h"
#include "hiddfu.h"

#include <algorithm>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzzdevice::folder() + "/fuzz.backup";
    static const fuzzdevice::Bytes previous = dfu::makeDfuFile(dfu::makeImage(77, 1));
    static const bool quiet = (fuzzdevice::quietQtLog(), true);
    (void)quiet;
    if (!fuzzdevice::writeFile(path, previous))
        __builtin_trap();
    const auto [exits, code] = fuzzdevice::runWorker(data, size, path, &AsyncWorker::DoBackup);

    const fuzzdevice::Bytes written = fuzzdevice::readFile(path);
    if (exits != 1 || fuzzdevice::readFile(path + ".partial").size() != 0 ||
        std::fopen((path + ".partial").c_str(), "rb") != nullptr)
        __builtin_trap();
    if (code != HidDfuResult::Success) {
        if ((code != HidDfuResult::DriverOperationFailed && code != HidDfuResult::UnknownError) ||
            written != previous)
            __builtin_trap();
        return 0;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    const dfu::CheckResult check = dfu::checkFile(file);
    std::fclose(file);
    if (check.code != 0 ||
        dfu::le32(written.data() + dfu::kImageLengthOffset) != written.size() - dfu::kSuffixLength)
        __builtin_trap();
    // Bytes of the image that no reply carried must never be stored.
    fuzzdevice::Bytes delivered;
    for (const fuzzdevice::Bytes& reply : fuzzdevice::replies()) {
        if (reply.size() < 6 || reply.size() < 6u + dfu::le16(reply.data() + 1))
            __builtin_trap();
        const std::size_t count = dfu::le16(reply.data() + 1);
        delivered.insert(delivered.end(), reply.begin() + 6, reply.begin() + long(6 + count));
    }
    if (!std::equal(delivered.begin(), delivered.end(), written.begin(),
                    written.end() - long(dfu::kSuffixLength)))
        __builtin_trap();
    return 0;
}
