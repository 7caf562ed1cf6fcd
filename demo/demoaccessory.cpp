#include "demoaccessory.h"

#include "dfufile.h"

namespace demo {

namespace {
constexpr uint32_t kStoredImageSeed = 7;
// The firmware the demo accessory runs before the update, 2.3.0 in BCD.
constexpr uint16_t kInstalledRelease = 0x0230;
} // namespace

sim::AccessoryConfig accessoryConfig() {
    sim::AccessoryConfig config;
    config.featureReportLength = kFeatureReportLength;
    config.pollTimeoutMs = kPollTimeoutMs;
    config.reportDelayUs = kReportDelayUs;
    config.storedImage = dfu::makeImage(kStoredImageLength, kStoredImageSeed);
    config.releaseNumber = kInstalledRelease;
    return config;
}

} // namespace demo
