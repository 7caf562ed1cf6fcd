#include "referencehost.h"

#include "dfufile.h"
#include "hidreports.h"
#include "workersleep.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <chrono>

using namespace hidreport;

namespace {

using Clock = std::chrono::steady_clock;

// One status read; returns the poll timeout, or -1 unless the device is ready.
long readyPollTimeout(hid_device* device) {
    uint8_t status[kStatusLength] = {kStatusId};
    if (hid_get_feature_report(device, status, sizeof status) < 0 ||
        status[kStatusStatus] != kStatusOk || status[kStatusState] == kStateDfuDnBusy)
        return -1;
    return long(status[kStatusPollTimeout] | (status[kStatusPollTimeout + 1] << 8) |
                (status[kStatusPollTimeout + 2] << 16));
}

} // namespace

bool referenceUpgrade(const std::string& path, const std::vector<uint8_t>& file,
                      uint32_t imageLength, uint16_t reportLength) {
    hid_device* device = hid_open_path(path.c_str());
    if (!device)
        return false;
    const std::size_t capacity = reportLength - kDataHeaderLength;
    std::vector<uint8_t> report(reportLength);
    long pollTimeout = readyPollTimeout(device);
    bool ok = pollTimeout >= 0;
    uint32_t sent = 0;
    uint16_t block = 0;
    // The last report carries no data: the end of the download.
    for (bool last = false; ok && !last; ++block) {
        last = sent >= imageLength;
        const uint16_t count =
            last ? 0 : uint16_t(std::min<std::size_t>(imageLength - sent, capacity));
        std::fill(report.begin(), report.end(), uint8_t(0));
        report[0] = kDataId;
        report[kDownloadRequest] = kDfuDnload;
        dfu::putLe16(&report[kDownloadBlockNumber], block);
        dfu::putLe16(&report[kDownloadDataLength], count);
        if (!last)
            std::copy_n(file.begin() + sent, std::min<std::size_t>(capacity, file.size() - sent),
                        report.begin() + kDataHeaderLength);
        ok = hid_send_feature_report(device, report.data(), report.size()) >= 0;
        const Clock::time_point sendTime = Clock::now();
        sent += count;
        // The worker's sleep, not the standard one: on Windows that ends on
        // the system timer's next tick, up to 15.6 ms late, and the yardstick
        // would be slower than the host it measures.
        workerSleepUntil(sendTime + std::chrono::milliseconds(pollTimeout));
        pollTimeout = ok ? readyPollTimeout(device) : -1;
        ok = pollTimeout >= 0;
    }
    hid_close(device);
    return ok;
}
