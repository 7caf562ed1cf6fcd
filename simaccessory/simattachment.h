#pragma once
// What an attachment of the device model to a kernel offers its owner,
// whichever way the accessory reaches the kernel (uhid/, usbgadget/): the
// test and the accessory programs start, watch and stop either alike.

#include <string>
#include <vector>

namespace sim {

class Attachment {
public:
    virtual ~Attachment() = default;
    // Presents the device to the kernel and starts answering; on failure
    // returns false and says why (with the system's reason).
    virtual bool start(std::string& error) = 0;
    // Takes the device away and stops answering; harmless when stopped.
    virtual void stop() = 0;
    // How often the kernel has been shown the device: 1 after start(), one
    // more for every return after a reset.
    virtual int creations() const = 0;
    // Requests that could not be answered, with what went wrong; empty while
    // all is well.
    virtual std::vector<std::string> problems() const = 0;
};

} // namespace sim
