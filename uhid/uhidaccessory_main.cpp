// tavrin-uhid-accessory: plugs the simulated accessory into this machine's
// kernel through /dev/uhid, or with --usb as a USB device through FunctionFS
// (root only), so that the shipping program, linked with the system's hidapi,
// can be tried without the hardware. Runs until
// interrupted, then prints every report the accessory received, one a line:
// "> " host to device, "< " device to host, in hexadecimal, "!" when the
// report failed.

#include "dfufile.h"
#include "simdevicemodel.h"
#include "uhiddevice.h"
#include "usbgadget.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
// The device thread does the work; the main thread only waits to be told to end.
constexpr useconds_t kInterruptCheckUs = 100 * 1000;

void onSignal(int) {
    g_interrupted = 1;
}

struct Options {
    unsigned long reportLength = 64;
    unsigned long pollTimeoutMs = 5;
    unsigned long imageLength = 48 * 1024;
    unsigned long reenumerateMs = 500;
    bool keyboard = false;
    bool usb = false;
    std::string keyboardUdc = usbgadget::kKeyboardController;
    std::string udc = usbgadget::kAccessoryController;
    // Faults, for the flasher's tests on a real HID stack: every status
    // reply says this status; the nth report from the start unplugs it.
    std::optional<uint8_t> status;
    unsigned long unplugAtReport = 0;
};

void usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--report-length L] [--poll-timeout MS] [--image-length N]\n"
                 "          [--reenumerate MS] [--keyboard] [--status S] [--unplug-at-report N]\n"
                 "          [--usb [--udc NAME] [--keyboard-udc NAME]]\n"
                 "Creates the simulated accessory as a kernel HID device until interrupted.\n"
                 "--keyboard creates a virtual keyboard first, as a second HID device.\n"
                 "--usb makes them USB devices (configfs, FunctionFS) on the device-side\n"
                 "controllers NAME (dummy_udc.1, dummy_udc.0) instead of uhid devices.\n"
                 "--status answers every status request with DFU status S; --unplug-at-report\n"
                 "unplugs the accessory for good at its Nth report.\n",
                 program);
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--keyboard") {
            options.keyboard = true;
            continue;
        }
        if (name == "--usb") {
            options.usb = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        if (name == "--udc" || name == "--keyboard-udc") {
            (name == "--udc" ? options.udc : options.keyboardUdc) = argv[++i];
            continue;
        }
        char* end = nullptr;
        const unsigned long value = std::strtoul(argv[++i], &end, 10);
        if (end == argv[i] || *end != 0)
            return false;
        if (name == "--report-length")
            options.reportLength = value;
        else if (name == "--poll-timeout")
            options.pollTimeoutMs = value;
        else if (name == "--image-length")
            options.imageLength = value;
        else if (name == "--reenumerate")
            options.reenumerateMs = value;
        else if (name == "--status" && value <= 0xFF)
            options.status = uint8_t(value);
        else if (name == "--unplug-at-report" && value > 0 && value <= 1000000)
            options.unplugAtReport = value;
        else
            return false;
    }
    return options.reportLength > 0 && options.reportLength <= 0xFFFF;
}

void printRecords(const sim::DeviceModel& model) {
    for (const sim::Report& report : model.records()) {
        std::printf("%s", report.direction == sim::Direction::HostToDevice ? ">" : "<");
        if (report.failed)
            std::printf(" ! %02x", report.reportId);
        for (uint8_t byte : report.bytes)
            std::printf(" %02x", byte);
        std::printf("\n");
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        usage(argv[0]);
        return 2;
    }
    sim::AccessoryConfig config;
    config.featureReportLength = uint16_t(options.reportLength);
    config.pollTimeoutMs = uint32_t(options.pollTimeoutMs);
    config.reenumerateMs = int(options.reenumerateMs);
    config.storedImage = dfu::makeImage(uint32_t(options.imageLength));
    config.product =
        std::wstring(options.usb ? L"TAVRIN accessory (USB)" : L"TAVRIN accessory (uhid)");
    sim::DeviceModel model(config);
    if (options.status)
        model.overrideStatus(options.status, std::nullopt);
    if (options.unplugAtReport)
        model.unplugAtReport(int(options.unplugAtReport));

    std::unique_ptr<sim::Attachment> keyboard, accessory;
    if (options.usb) {
        keyboard =
            std::make_unique<usbgadget::Gadget>(usbgadget::keyboardIdentity(), options.keyboardUdc);
        accessory = std::make_unique<usbgadget::Gadget>(usbgadget::accessoryIdentity(model),
                                                        options.udc, &model);
    } else {
        keyboard = std::make_unique<uhid::Device>(uhid::keyboardIdentity());
        accessory = std::make_unique<uhid::Device>(uhid::accessoryIdentity(model), &model);
    }
    std::string error;
    if ((options.keyboard && !keyboard->start(error)) || !accessory->start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::fprintf(stderr, "Accessory 0a12:fffe created; interrupt to remove it.\n");
    while (!g_interrupted)
        ::usleep(kInterruptCheckUs);
    accessory->stop();
    keyboard->stop();
    printRecords(model);
    for (const std::string& problem : accessory->problems())
        std::fprintf(stderr, "%s\n", problem.c_str());
    return 0;
}
