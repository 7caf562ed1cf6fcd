// The DFU file check on any file, streamed and in memory, compared with a
// reference check that holds the whole file and computes the CRC bit by bit.
#include "dfufile.h"
#include "hiddfu.h"
#include "memoryfile.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

dfu::CheckResult reference(const uint8_t* file, size_t size) {
    if (size < 16)
        return {HidDfuResult::InvalidFileFormat, "File too short"};
    const uint8_t* suffix = file + size - 16;
    const size_t bLength = suffix[11];
    const bool signature = suffix[8] == 'U' && suffix[9] == 'F' && suffix[10] == 'D';
    if (bLength < 16 || size < bLength || !signature || suffix[6] != 0x00 || suffix[7] != 0x01)
        return {HidDfuResult::InvalidFileFormat, "File suffix is invalid"};
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i + 4 < size; ++i) {
        crc ^= file[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    if (crc != le32(suffix + 12))
        return {HidDfuResult::InvalidFileCrc, ""};
    const size_t held = size - bLength;
    if (held < 14)
        return {HidDfuResult::InvalidFileFormat,
                "Image is " + std::to_string(held) + " bytes long; its length field needs 14"};
    const uint32_t declared = le32(file + 10);
    if (declared == 0)
        return {HidDfuResult::InvalidFileFormat, "Image length field says 0 bytes"};
    if (declared > held)
        return {HidDfuResult::InvalidFileFormat,
                "Image length field says " + std::to_string(declared) + " bytes; the file holds " +
                    std::to_string(held)};
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = platform::openBytes(std::vector<uint8_t>(data, data + size));
    if (!file)
        __builtin_trap();
    const dfu::CheckResult got = dfu::checkFile(file);
    const dfu::CheckResult want = reference(data, size);
    if (got.code != want.code || got.message != want.message)
        __builtin_trap();
    // The in-memory check, which an upgrade uses, gives the same verdict.
    const dfu::CheckResult held = dfu::checkBytes(std::vector<uint8_t>(data, data + size));
    if (held.code != want.code || held.message != want.message)
        __builtin_trap();
    if (got.code == 0 && std::ftell(file) != 0)
        __builtin_trap();
    std::fclose(file);
    return 0;
}
