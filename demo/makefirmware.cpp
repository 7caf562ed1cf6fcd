// makefirmware LENGTH OUT: writes the DFU file that `tavrin-dfu pack
// --test-image LENGTH OUT` writes, for builds that have no flasher program to
// run (Windows, where the build runs it under Wine).
#include "dfufile.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: makefirmware LENGTH OUT\n");
        return 2;
    }
    const std::vector<uint8_t> file =
        dfu::makeDfuFile(dfu::makeImage(uint32_t(std::strtoul(argv[1], nullptr, 10))));
    std::FILE* out = std::fopen(argv[2], "wb");
    const bool written = out && std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (!out || std::fclose(out) != 0 || !written) {
        std::perror(argv[2]);
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
