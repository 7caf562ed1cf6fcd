#include "demoaccessory.h"

#include "dfufile.h"

namespace demo {

namespace {
constexpr uint32_t kStoredImageSeed = 7;
} // namespace

sim::AccessoryConfig accessoryConfig() {
    sim::AccessoryConfig config;
    config.featureReportLength = kFeatureReportLength;
    config.pollTimeoutMs = kPollTimeoutMs;
    config.reportDelayUs = kReportDelayUs;
    config.storedImage = dfu::makeImage(kStoredImageLength, kStoredImageSeed);
    return config;
}

} // namespace demo
