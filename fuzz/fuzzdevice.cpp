#include "fuzzdevice.h"

#include "temporaryfolder.h"

#include <QtGlobal>

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzzdevice {

namespace {
const uint8_t* input = nullptr;
std::size_t left = 0;
std::vector<Bytes> sentReports;
std::vector<Bytes> receivedReplies;

bool reportFails() {
    return (take(0) & 0x0F) == 0x0F;
}
} // namespace

void load(const uint8_t* data, std::size_t size) {
    input = data;
    left = size;
    sentReports.clear();
    receivedReplies.clear();
}

uint8_t take(uint8_t fallback) {
    if (left == 0)
        return fallback;
    --left;
    return *input++;
}

const std::vector<Bytes>& sent() {
    return sentReports;
}

const std::vector<Bytes>& replies() {
    return receivedReplies;
}

hid_device_* handle() {
    static char dummy;
    return reinterpret_cast<hid_device_*>(&dummy);
}

const std::string& folder() {
    static const std::string path = [] {
        std::string made = platform::makeTemporaryFolder("tavrin-fuzz-");
        if (made.empty())
            std::abort();
        return made;
    }();
    return path;
}

Bytes readFile(const std::string& path) {
    Bytes bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t piece[4096];
        std::size_t n;
        while ((n = std::fread(piece, 1, sizeof piece, f)) > 0)
            bytes.insert(bytes.end(), piece, piece + n);
        std::fclose(f);
    }
    return bytes;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

void quietQtLog() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

} // namespace fuzzdevice

using fuzzdevice::take;

extern "C" {

int hid_send_feature_report(hid_device*, const unsigned char* data, size_t length) {
    if (fuzzdevice::reportFails())
        return -1;
    fuzzdevice::sentReports.emplace_back(data, data + length);
    return int(length);
}

// A reply's fate is one input byte: the low nibble 0x0F fails the read, 0x0E
// delivers only as many bytes as the next input byte says (the report ID at
// least), anything else the whole reply.
int hid_get_feature_report(hid_device*, unsigned char* data, size_t length) {
    if (length == 0)
        return -1;
    const uint8_t fate = take(0) & 0x0F;
    if (fate == 0x0F)
        return -1;
    const std::size_t delivered = fate == 0x0E ? 1 + take(0) % length : length;
    const bool status = data[0] == 2;
    for (std::size_t i = 1; i < delivered; ++i)
        data[i] = take(status && i == 5 ? 2 : 0);
    fuzzdevice::receivedReplies.emplace_back(data, data + delivered);
    return int(delivered);
}

// The engine's connection code is linked in but never called by the fuzzers.
hid_device_info* hid_enumerate(unsigned short, unsigned short) {
    return nullptr;
}
void hid_free_enumeration(hid_device_info*) {}
hid_device* hid_open_path(const char*) {
    return nullptr;
}
void hid_close(hid_device*) {}
}
