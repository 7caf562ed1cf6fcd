#include "demoscenarios.h"

#include "demoaccessory.h"
#include "simbus.h"

#include <algorithm>
#include <cstring>

namespace demo {

namespace {

// Data bytes in one block of the demo accessory.
constexpr uint32_t kBlockCapacity = kFeatureReportLength - 6;
constexpr int kBlocksAt40Percent = int(kFirmwareImageLength / kBlockCapacity * 2 / 5);
constexpr int kBlocksAt60Percent = int(kFirmwareImageLength / kBlockCapacity * 3 / 5);

// A full-speed USB accessory: each control transfer takes a few frames and
// every block waits for a flash page write.
constexpr int kFullSpeedReportDelayUs = 2000;
constexpr uint32_t kFullSpeedPollTimeoutMs = 20;

void strikeAfter(sim::AccessoryConfig& config, sim::LateFault fault, int blocks) {
    config.lateFault = fault;
    config.lateFaultAfterBlocks = blocks;
}

const std::vector<Scenario> kScenarios = {
    {"healthy", "an accessory that takes the update (the default)", [](sim::AccessoryConfig&) {}},
    {"no-accessory", "nothing plugged in: the connection fails", nullptr},
    {"unplugged", "the accessory is unplugged at about 40 % of the update",
     [](sim::AccessoryConfig& c) { strikeAfter(c, sim::LateFault::Unplug, kBlocksAt40Percent); }},
    {"write-fails", "the accessory reports a failed write at about 60 % of the update",
     [](sim::AccessoryConfig& c) {
         strikeAfter(c, sim::LateFault::WriteError, kBlocksAt60Percent);
     }},
    {"busy", "the accessory stays busy at about 40 % of the update",
     [](sim::AccessoryConfig& c) {
         strikeAfter(c, sim::LateFault::StaysBusy, kBlocksAt40Percent);
     }},
    {"full-speed", "a slow full-speed accessory with real timing (about half a minute)",
     [](sim::AccessoryConfig& c) {
         c.reportDelayUs = kFullSpeedReportDelayUs;
         c.pollTimeoutMs = kFullSpeedPollTimeoutMs;
     }},
};

const Scenario* find(const std::string& name) {
    for (const Scenario& s : kScenarios)
        if (name == s.name)
            return &s;
    return nullptr;
}

} // namespace

const std::vector<Scenario>& scenarios() {
    return kScenarios;
}

bool plugInScenario(const std::string& name) {
    const Scenario* scenario = find(name);
    return scenario &&
           (!scenario->configure || plugInScenario(name, *accessoryConfig().serialNumber));
}

sim::DeviceModel* plugInScenario(const std::string& name, const std::wstring& serialNumber,
                                 std::size_t recordLimit, int releaseNumber) {
    const Scenario* scenario = find(name);
    if (!scenario || !scenario->configure)
        return nullptr;
    sim::AccessoryConfig config = accessoryConfig();
    config.serialNumber = serialNumber;
    config.recordLimit = recordLimit;
    if (releaseNumber >= 0)
        config.releaseNumber = uint16_t(releaseNumber);
    scenario->configure(config);
    return &sim::Bus::addAccessory(config);
}

bool isScenario(const std::string& name) {
    return find(name) != nullptr;
}

std::string scenarioHelp() {
    std::size_t width = 0;
    for (const Scenario& s : kScenarios)
        width = std::max(width, std::strlen(s.name));
    std::string text;
    for (const Scenario& s : kScenarios)
        text += "  " + std::string(s.name) + std::string(width + 2 - std::strlen(s.name), ' ') +
                s.description + "\n";
    return text;
}

} // namespace demo
