#pragma once
// The simulated accessory's behaviour, independent of how reports reach it:
// the in-process hidapi attachment (simbus.h) and the kernel's uhid one
// (uhid/) call it the same way. It knows nothing of hidapi, handles or the
// bus.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Scripted misbehaviour in the middle of a download, for demonstrations: it
// strikes once, right after the device has accepted the configured number of
// data blocks.
enum class LateFault {
    None,
    Unplug,     // the device leaves the bus for good
    WriteError, // the next status read says errWRITE in dfuERROR; the device
                // abandons the download and is idle again after that read
    StaysBusy,  // every status read from then on says busy
};

struct AccessoryConfig {
    uint16_t vendorId = 0x0A12;
    uint16_t productId = 0xFFFE;
    uint16_t releaseNumber = 0x0100; // bcdDevice of the USB device: its firmware version
    uint16_t usagePage = 0xFF00;
    uint16_t usage = 0x0001;
    // L: the length of every ID 1 report, ID byte included. The generated
    // report descriptor declares feature reports ID 2 (6 data bytes), ID 3
    // (1 byte) and ID 1 (L - 1 bytes), so it describes L only when L >= 7.
    uint16_t featureReportLength = 64;
    // Served instead of the generated descriptor when set (a descriptor that
    // disagrees with L, or has no feature report at all). The model itself
    // keeps using featureReportLength.
    std::optional<std::vector<uint8_t>> descriptorOverride;
    // The two places a host finds the descriptor: hidapi's
    // hid_get_report_descriptor (0.14 and later; declining stands in for an
    // older library) and the node's sysfs file (Linux only; its absence
    // stands in for other platforms).
    bool answersDescriptorCall = true;
    bool descriptorInSysfs = true;
    uint32_t pollTimeoutMs = 0;       // announced in every status reply (24 bits)
    int busyMs = -1;                  // dfuDNBUSY after each data block; -1: pollTimeoutMs
    uint8_t initialStatus = 0;        // e.g. 10 (errFIRMWARE), kept until cleared
    bool startsInError = false;       // in dfuERROR, as a lost block leaves it, until cleared
    std::vector<uint8_t> storedImage; // what backup serves until a download replaces it
    std::optional<std::wstring> serialNumber = std::wstring(L"SIM-0001");
    std::optional<std::wstring> manufacturer = std::wstring(L"TAVRIN");
    std::optional<std::wstring> product = std::wstring(L"TAVRIN accessory (simulated)");
    int reportDelayUs = 0; // time each report takes, spent before it is handled
    // When set, called with each report's length in place of reportDelayUs:
    // a test spends a transfer's time on its own clock instead of waiting.
    std::function<void(std::size_t)> spendTransferTime;
    int reenumerateMs = 0; // absence from the bus after a reset
    LateFault lateFault = LateFault::None;
    int lateFaultAfterBlocks = 0;
    // How many reports the record keeps, the latest ones; a long-running
    // program (the demo) must not grow with every report. Past the limit the
    // received image, too, keeps only the download in progress or last done.
    std::size_t recordLimit = SIZE_MAX;
};

enum class Direction { HostToDevice, DeviceToHost };

struct Report {
    Direction direction;
    uint8_t reportId;
    // HostToDevice: the whole buffer the host sent. DeviceToHost: the whole
    // reply as written into the host's buffer (empty when the read failed).
    std::vector<uint8_t> bytes;
    bool failed;
};

inline bool operator==(const Report& a, const Report& b) {
    return a.direction == b.direction && a.reportId == b.reportId && a.bytes == b.bytes &&
           a.failed == b.failed;
}
inline bool operator!=(const Report& a, const Report& b) {
    return !(a == b);
}

// What a backup reply does wrong; see DeviceModel::setBackupFault.
enum class BackupFault {
    None,
    ZeroLength,     // data length 0, no data, the image position stays
    OverlongLength, // data length field 0xFFFF, the payload carries the normal data
    BeyondImage,    // data length L - 6 even where the image holds fewer bytes
};

class DeviceModel {
public:
    // DFU status and state values the model uses (USB DFU 1.1).
    static constexpr uint8_t kStatusOk = 0;
    static constexpr uint8_t kStatusErrWrite = 3;
    static constexpr uint8_t kStatusErrAddress = 8;
    static constexpr uint8_t kStatusErrFirmware = 10;
    static constexpr uint8_t kStateDfuIdle = 2;
    static constexpr uint8_t kStateDfuDnBusy = 4;
    static constexpr uint8_t kStateDfuDnloadIdle = 5;
    static constexpr uint8_t kStateDfuError = 10;

    explicit DeviceModel(AccessoryConfig config);
    DeviceModel(const DeviceModel&) = delete;
    DeviceModel& operator=(const DeviceModel&) = delete;

    const AccessoryConfig& config() const { return m_config; }
    std::vector<uint8_t> reportDescriptor() const;

    // --- Presence, for attachments -------------------------------------
    // On the bus now: not unplugged and not inside the absence after a reset.
    bool present() const;
    // Changes at every reset, as a device that re-enumerates is a new device
    // to the host: a connection opened in one generation is dead in all later
    // ones.
    uint64_t generation() const;

    // --- Reports, for attachments --------------------------------------
    // data[0] is the report ID. Both return the byte count or -1 and never
    // touch data beyond length. Reports of an earlier generation or to an unplugged
    // device fail without reaching the device's logic.
    int sendFeatureReport(uint64_t generation, const uint8_t* data, size_t length);
    int getFeatureReport(uint64_t generation, uint8_t* data, size_t length);
    // For an attachment that must refuse a host-to-device report before its
    // data moves: on USB a device stalls a control write's data stage, and a
    // virtual host controller ends the status stage by itself once the data
    // is taken. Counts the next report of this ID against the armed faults
    // now; false when it fails or the device takes no such report (it is then
    // recorded as failed, with its ID alone: all the device saw of it). After
    // true, the next sendFeatureReport of this ID is that report and is not
    // counted again.
    bool admitFeatureReport(uint64_t generation, uint8_t reportId);

    // --- Faults (usable before or during an operation) -----------------
    // Report counts start with the next report after the call (1 = next).
    // The nth report of this kind from now on fails (-1, state unchanged).
    void failReport(Direction direction, uint8_t reportId, int nth = 1);
    // The nth report of any kind from now on, and every one after it, fails:
    // the device is unplugged and leaves the bus for good.
    void unplugAtReport(int nth = 1);
    // The next `reads` status replies say busy (status 0, state 4).
    void answerBusy(int reads);
    // From now on, the first `reads` status replies after each data block say
    // busy, however long the host waited before asking.
    void answerBusyAfterEachBlock(int reads);
    // Every status reply, from the nth from now on, says this status and/or
    // state until cleared. The device's real state machine is not affected.
    void overrideStatus(std::optional<uint8_t> status, std::optional<uint8_t> state,
                        int fromReply = 1);
    // Every status reply, from the nth from now on, announces this poll
    // timeout (24 bits) instead of the configured one; the device's own busy
    // time is not affected.
    void announcePollTimeout(uint32_t ms, int fromReply = 1);
    // The nth reply of this report ID from now on delivers only its first
    // `bytes` bytes, the report ID included, and says so in its byte count;
    // the device goes on as if it had sent the whole reply.
    void shortenReply(uint8_t reportId, std::size_t bytes, int nth = 1);
    void clearStatusOverride();
    // From the nth backup reply from now on (until set to None).
    void setBackupFault(BackupFault fault, int fromReply = 1);

    // --- Observation --------------------------------------------------
    std::vector<Report> records() const;
    // Forgets the records and the received image.
    void clearRecords();
    // Counted data of every accepted download block, in order, across downloads.
    std::vector<uint8_t> receivedImage() const;
    // The image that backup serves: the last completed download, or the
    // configured one.
    std::vector<uint8_t> storedImage() const;
    int resetCount() const;

private:
    using Clock = std::chrono::steady_clock;
    struct FailFault {
        Direction direction;
        uint8_t reportId;
        int countdown;
    };

    bool reachable(uint64_t generation) const;
    bool consumeFaults(Direction direction, uint8_t reportId);
    void delay(std::size_t length) const;
    int handleCommand(const uint8_t* data, size_t length);
    int handleDownload(const uint8_t* data, size_t length);
    std::vector<uint8_t> statusReply();
    std::vector<uint8_t> backupReply();
    void restart();
    void strikeLateFault();
    uint8_t currentState() const;

    const AccessoryConfig m_config;
    const int m_busyMs;

    mutable std::mutex m_mutex;
    // Device state.
    uint8_t m_status;
    uint8_t m_state;
    Clock::time_point m_busyUntil;
    uint16_t m_expectedBlock = 0;
    std::vector<uint8_t> m_download; // blocks of the download in progress
    std::vector<uint8_t> m_storedImage;
    size_t m_backupOffset = 0;
    // Presence.
    uint64_t m_generation = 1;
    bool m_unplugged = false;
    Clock::time_point m_absentUntil;
    int m_resetCount = 0;
    // Faults.
    std::vector<FailFault> m_failFaults;
    std::optional<uint8_t> m_admitted;
    int m_unplugCountdown = 0;
    int m_busyReads = 0;
    int m_busyReadsAfterBlock = 0;
    int m_blocksAccepted = 0;
    bool m_writeErrorDue = false;
    std::optional<uint8_t> m_statusOverride;
    std::optional<uint8_t> m_stateOverride;
    int m_overrideCountdown = 0;
    std::optional<uint32_t> m_announcedPollTimeout;
    int m_announceCountdown = 0;
    struct ShortReply {
        uint8_t reportId;
        int countdown;
        std::size_t bytes;
    };
    std::vector<ShortReply> m_shortReplies;
    BackupFault m_backupFault = BackupFault::None;
    int m_backupFaultCountdown = 0;
    // Observation.
    void record(Report report);
    std::deque<Report> m_records;
    std::vector<uint8_t> m_receivedImage;
};

} // namespace sim
