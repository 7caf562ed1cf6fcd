#pragma once
// What the demo programs can simulate, chosen on their command line, so that
// every page and message can be seen without a real accessory or a test
// build. Each scenario plugs its accessory (or none) into the in-process bus.

#include "demoaccessory.h"

#include <cstddef>
#include <string>
#include <vector>

namespace sim {
class DeviceModel;
}

namespace demo {

struct Scenario {
    const char* name;
    const char* description;
    // What the accessory does differently from the healthy demo accessory;
    // null for a scenario that plugs in nothing.
    void (*configure)(sim::AccessoryConfig& config);
};

// Every scenario, the default first.
const std::vector<Scenario>& scenarios();
constexpr const char* kDefaultScenario = "healthy";

// Plugs in the named scenario's accessory; false (and nothing plugged in)
// for a name that is not in scenarios().
bool plugInScenario(const std::string& name);
// The same, the accessory enumerating with the given serial number, so that
// several can be told apart. Returns the accessory plugged in, null for
// no-accessory and for unknown names. A demo program keeps only the latest
// reports in its record, so that it does not grow with every transfer.
// A releaseNumber of 0 or more replaces the demo accessory's firmware version
// (0: the accessory states none).
sim::DeviceModel* plugInScenario(const std::string& name, const std::wstring& serialNumber,
                                 std::size_t recordLimit = kRecordLimit, int releaseNumber = -1);

// Whether name is one of scenarios().
bool isScenario(const std::string& name);

// One line per scenario, "  name  description", for a --help text.
std::string scenarioHelp();

} // namespace demo
