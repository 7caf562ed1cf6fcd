// The backup against a device whose replies come from the input (its first
// byte chooses the report length, 7 to 70). A backup that succeeds has
// written a file that passes the file check, whose length field equals its
// image length and whose image is exactly the data the replies delivered; one
// that fails has left the previous backup as it was.
#include "dfufile.h"
#include "fuzzdevice.h"
#include "fuzzworker.h"
#include "hiddfu.h"
#include "memoryfiles.h"

#include <algorithm>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // In memory (memoryfiles.cpp): the backup's file functions are the
    // fuzzer's own.
    static const std::string path = "fuzz.backup";
    static const fuzzdevice::Bytes previous = dfu::makeDfuFile(dfu::makeImage(77, 1));
    static const bool quiet = (fuzzdevice::quietQtLog(), true);
    (void)quiet;
    memoryfiles::clear();
    memoryfiles::write(path, previous);
    const auto [exits, code] = fuzzdevice::runWorker(data, size, path, &AsyncWorker::DoBackup);

    const fuzzdevice::Bytes written = memoryfiles::read(path);
    // Nothing but the backup itself is left: no partial file.
    if (exits != 1 || memoryfiles::count() != 1)
        __builtin_trap();
    if (code != HidDfuResult::Success) {
        if ((code != HidDfuResult::DriverOperationFailed && code != HidDfuResult::UnknownError) ||
            written != previous)
            __builtin_trap();
        return 0;
    }
    std::FILE* file = ::fmemopen(const_cast<uint8_t*>(written.data()), written.size(), "rb");
    if (!file)
        __builtin_trap();
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
