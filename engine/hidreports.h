#pragma once
// Layout of the feature reports exchanged with the accessory. Byte 0 of every
// buffer is the report ID; multi-byte fields are little-endian.

#include <cstddef>
#include <cstdint>

namespace hidreport {

// Status report (device to host), USB DFU GETSTATUS layout after the ID.
constexpr uint8_t kStatusId = 2;
constexpr std::size_t kStatusLength = 7;
constexpr std::size_t kStatusStatus = 1;
constexpr std::size_t kStatusPollTimeout = 2; // 24-bit milliseconds
constexpr std::size_t kStatusState = 5;

// Command report (host to device).
constexpr uint8_t kCommandId = 3;
constexpr std::size_t kCommandLength = 2;
constexpr std::size_t kCommandCode = 1;
constexpr uint8_t kCommandClearStatus = 0x04; // DFU_CLRSTATUS
constexpr uint8_t kCommandReset = 0xFF;       // the device's own restart

// Data report: download blocks (host to device) and backup blocks (device to
// host) share ID 1 and the full feature report length L.
constexpr uint8_t kDataId = 1;
constexpr std::size_t kDownloadRequest = 1;
constexpr uint8_t kDfuDnload = 0x01;
constexpr std::size_t kDownloadBlockNumber = 2;
constexpr std::size_t kDownloadDataLength = 4;
constexpr std::size_t kBackupDataLength = 1;
constexpr std::size_t kDataHeaderLength = 6; // data starts here in both directions

// DFU status and state values the procedures act on.
constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusErrFirmware = 10;
constexpr uint8_t kStateAppIdle = 0;
constexpr uint8_t kStateDfuIdle = 2;
constexpr uint8_t kStateDfuDnBusy = 4;
constexpr uint8_t kStateDfuDnloadIdle = 5;
constexpr uint8_t kStateDfuError = 10;

} // namespace hidreport
