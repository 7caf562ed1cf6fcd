#pragma once
// A HID device whose every reply comes from the fuzz input, answering the
// hidapi calls the engine makes; linked instead of any hidapi. Each report
// takes one control byte (low four bits all set: the report fails; for a
// reply, 0xE in them: it is cut short at a length from the next byte) and a
// reply takes the report's bytes after its ID from the input. Once the input
// is used up the device is healthy: reports succeed, status replies say
// "idle, no wait", data replies carry no bytes. So every run ends.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct hid_device_;

namespace fuzzdevice {

using Bytes = std::vector<uint8_t>;

// Starts a run on input; forgets what the last run sent.
void load(const uint8_t* data, std::size_t size);
// The next input byte, or fallback once the input is used up.
uint8_t take(uint8_t fallback);
// The buffers the host sent in this run, in order.
const std::vector<Bytes>& sent();
// The replies the host received in this run, each as far as it was delivered.
const std::vector<Bytes>& replies();
// A handle for the worker; never dereferenced.
hid_device_* handle();

// A folder of this process's own for the files of the runs (on tmpfs when
// there is one: the backup syncs its file).
const std::string& folder();
Bytes readFile(const std::string& path);
bool writeFile(const std::string& path, const Bytes& bytes);
// Silences the Qt message log: the worker logs every backup's file name.
void quietQtLog();

} // namespace fuzzdevice
