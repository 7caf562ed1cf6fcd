// The simulated accessory's in-process attachment: the bus's enumeration
// of its interfaces, their descriptor files, and the opens it refuses.

#include "hidaccess.h"
#include "reportdescriptor.h"
#include "simaccessorytest.h"
#include "testplatform.h"

#include <hidapi/hidapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace simtest;

TEST_F(SimAccessory, EnumeratesInterfacesInOrderWithTheirFields) {
    EXPECT_EQ(hid_enumerate(0, 0), nullptr);
    hid_free_enumeration(nullptr);

    const std::string keyboard = sim::Bus::addKeyboard();
    sim::DeviceModel& first = sim::Bus::addAccessory(config());
    const std::string mouse = sim::Bus::addMouse();
    sim::AccessoryConfig anonymous = config();
    anonymous.serialNumber.reset();
    sim::DeviceModel& second = sim::Bus::addAccessory(anonymous);

    const std::vector<std::string> all = {keyboard, sim::Bus::pathOf(first), mouse,
                                          sim::Bus::pathOf(second)};
    EXPECT_EQ(enumeratedPaths(), all);
    EXPECT_EQ(all[0], sim::Bus::root() + "/dev/hidraw0");
    EXPECT_EQ(all[3], sim::Bus::root() + "/dev/hidraw3");
    EXPECT_EQ(enumeratedPaths(kVendorId, kProductId), (std::vector<std::string>{all[1], all[3]}));
    EXPECT_EQ(enumeratedPaths(kVendorId, 0), (std::vector<std::string>{all[1], all[3]}));

    hid_device_info* list = hid_enumerate(kVendorId, kProductId);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->usage_page, 0xFF00);
    EXPECT_EQ(list->usage, 0x0001);
    EXPECT_EQ(list->bus_type, HID_API_BUS_USB);
    ASSERT_NE(list->serial_number, nullptr);
    EXPECT_STREQ(list->serial_number, L"SIM-0001");
    ASSERT_NE(list->manufacturer_string, nullptr);
    EXPECT_STREQ(list->manufacturer_string, L"TAVRIN");
    ASSERT_NE(list->next, nullptr);
    EXPECT_EQ(list->next->serial_number, nullptr);
    hid_free_enumeration(list);

    sim::Bus::reset();
    EXPECT_EQ(hid_enumerate(0, 0), nullptr);
}

TEST_F(SimAccessory, DescriptorFilesGiveEachInterfaceItsFeatureReportLength) {
    if (!testplatform::isLinux())
        GTEST_SKIP() << "a Linux row: the descriptor files in sysfs";
    sim::Bus::addKeyboard();
    sim::Bus::addAccessory(config(64));
    sim::Bus::addAccessory(config(300));
    sim::Bus::addAccessory(config(8));
    sim::Bus::addMouse();
    sim::AccessoryConfig noFeatures = config(64);
    noFeatures.descriptorOverride = Bytes{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xC0};
    sim::Bus::addAccessory(noFeatures);

    std::vector<int> lengths;
    for (const std::string& path : enumeratedPaths()) {
        Bytes descriptor;
        std::string error;
        ASSERT_TRUE(platform::readStoredDescriptor(path.c_str(), descriptor, error)) << error;
        const hiddescriptor::Result result =
            hiddescriptor::longestFeatureReport(descriptor.data(), descriptor.size());
        ASSERT_TRUE(result.ok) << result.error;
        lengths.push_back(result.featureReportLength);
    }
    EXPECT_EQ(lengths, (std::vector<int>{0, 64, 300, 8, 0, 0}));
}

TEST_F(SimAccessory, OpenFailsOnRequestAndForUnknownPaths) {
    sim::DeviceModel& device = sim::Bus::addAccessory(config());
    const std::string keyboard = sim::Bus::addKeyboard();
    sim::Bus::setOpenFails(device, true);
    EXPECT_FALSE(open(device));
    EXPECT_EQ(enumeratedPaths().size(), 2u); // still listed, as a node without permission is
    sim::Bus::setOpenFails(device, false);
    EXPECT_TRUE(open(device));
    EXPECT_FALSE(open(sim::Bus::root() + "/dev/hidraw9"));

    const Handle keyboardDev = open(keyboard);
    ASSERT_TRUE(keyboardDev);
    EXPECT_TRUE(status(keyboardDev.get()).empty());
}

} // namespace
