#pragma once
// What the accessory should see, built from the report layouts, for
// comparison with the simulated accessory's record.

#include "dfufile.h"
#include "simdevicemodel.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace traffic {

using Bytes = std::vector<uint8_t>;

struct Entry {
    sim::Direction direction;
    Bytes bytes;
    bool operator==(const Entry& o) const { return direction == o.direction && bytes == o.bytes; }
};
using Traffic = std::vector<Entry>;

inline Traffic recorded(const sim::DeviceModel& device) {
    Traffic t;
    for (const auto& r : device.records())
        t.push_back({r.direction, r.bytes});
    return t;
}

inline Entry status(uint8_t status, uint32_t pollTimeout, uint8_t state) {
    return {sim::Direction::DeviceToHost,
            {2, status, uint8_t(pollTimeout), uint8_t(pollTimeout >> 8), uint8_t(pollTimeout >> 16),
             state, 0}};
}

inline Entry command(uint8_t code) {
    return {sim::Direction::HostToDevice, {3, code}};
}

// A download report: the data area holds the file's bytes from offset on,
// zeros past its end, whatever the counted length n.
inline Entry download(std::size_t L, uint16_t block, uint16_t n, const Bytes& file,
                      std::size_t offset) {
    Bytes r(L, 0);
    r[0] = 1;
    r[1] = 1;
    dfu::putLe16(r.data() + 2, block);
    dfu::putLe16(r.data() + 4, n);
    for (std::size_t i = 6; i < L && offset + i - 6 < file.size(); ++i)
        r[i] = file[offset + i - 6];
    return {sim::Direction::HostToDevice, r};
}

inline Entry endOfDownload(std::size_t L, uint16_t block) {
    Bytes r(L, 0);
    r[0] = 1;
    r[1] = 1;
    dfu::putLe16(r.data() + 2, block);
    return {sim::Direction::HostToDevice, r};
}

constexpr uint8_t kIdle = 2;
constexpr uint8_t kDnloadIdle = 5;
constexpr uint8_t kDnBusy = 4;
constexpr uint8_t kDfuError = 10;

// The whole exchange of an upgrade with a device that never answers busy and
// reports status 0 throughout.
inline Traffic healthyUpgrade(std::size_t L, const Bytes& file, uint32_t pollTimeout) {
    const std::size_t capacity = L - 6;
    const uint32_t total = dfu::le32(file.data() + dfu::kImageLengthOffset);
    Traffic t;
    t.push_back(status(0, pollTimeout, kIdle));
    uint32_t remaining = total;
    uint16_t block = 0;
    std::size_t offset = 0;
    do {
        if (offset > 0)
            t.push_back(status(0, pollTimeout, kDnloadIdle));
        const uint16_t n = uint16_t(std::min<uint32_t>(remaining, uint32_t(capacity)));
        t.push_back(download(L, block, n, file, offset));
        remaining -= n;
        offset += capacity;
        ++block;
    } while (remaining > 0);
    // A block of length 0 (an empty image) ends the download on the device.
    t.push_back(status(0, pollTimeout, total == 0 ? kIdle : kDnloadIdle));
    t.push_back(endOfDownload(L, block));
    t.push_back(status(0, pollTimeout, kIdle));
    return t;
}

// Backup replies: ID, data length (16 bits), three ignored bytes, data.
constexpr std::size_t kBackupLengthOffset = 1;
constexpr std::size_t kBackupDataOffset = 6;

inline Bytes backupReply(std::size_t L, const Bytes& image, std::size_t offset) {
    const std::size_t n = std::min(L - kBackupDataOffset, image.size() - offset);
    Bytes r(L, 0);
    r[0] = 1;
    dfu::putLe16(r.data() + kBackupLengthOffset, uint16_t(n));
    std::copy(image.begin() + long(offset), image.begin() + long(offset + n),
              r.begin() + long(kBackupDataOffset));
    return r;
}

// The whole exchange of a backup of image from a device that never fails.
inline Traffic healthyBackup(std::size_t L, const Bytes& image) {
    Traffic t;
    for (std::size_t offset = 0; offset < image.size(); offset += L - kBackupDataOffset)
        t.push_back({sim::Direction::DeviceToHost, backupReply(L, image, offset)});
    return t;
}

inline Traffic operator+(Traffic a, const Traffic& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Traffic firstOf(const Traffic& t, std::size_t count) {
    return Traffic(t.begin(), t.begin() + long(std::min(count, t.size())));
}

// The whole buffers the host sent, in order.
inline std::vector<Bytes> sentReports(const sim::DeviceModel& device) {
    std::vector<Bytes> sent;
    for (const auto& r : device.records()) {
        if (r.direction == sim::Direction::HostToDevice)
            sent.push_back(r.bytes);
    }
    return sent;
}

// The buffers the host sends for a successful upgrade of file, in order.
inline std::vector<Bytes> upgradeReports(std::size_t L, const Bytes& file) {
    std::vector<Bytes> sent;
    for (const auto& e : healthyUpgrade(L, file, 0)) {
        if (e.direction == sim::Direction::HostToDevice)
            sent.push_back(e.bytes);
    }
    return sent;
}

inline QByteArray toQByteArray(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

inline QString describe(const Traffic& t) {
    QString s;
    for (const auto& e : t) {
        s += e.direction == sim::Direction::HostToDevice ? QStringLiteral("  > ")
                                                         : QStringLiteral("  < ");
        s += QString::fromLatin1(toQByteArray(e.bytes).toHex(' ')).left(60);
        s += '\n';
    }
    return s;
}

} // namespace traffic
