// make_dfu_file OUTPUT IMAGE_LENGTH [SEED]
// Writes a DFU file whose image is IMAGE_LENGTH bytes long (its length field
// filled in) followed by the suffix and CRC.
#include "dfufile.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT IMAGE_LENGTH [SEED]\n", argv[0]);
        return 2;
    }
    const unsigned long length = std::strtoul(argv[2], nullptr, 10);
    const unsigned long seed = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1;
    const auto file = dfu::makeDfuFile(dfu::makeImage(uint32_t(length), uint32_t(seed)));
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size()) {
        std::perror(argv[1]);
        if (out)
            std::fclose(out);
        return 1;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
