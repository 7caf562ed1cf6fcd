#include "chiddfuengine.h"

#include "hidaccess.h"
#include "hidreports.h"

#include <QDebug>
#include <QString>

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

static_assert(std::string_view(kHidDfuAdviceLog) == platform::kAdviceLog,
              "the advice the flasher picks out of the log is the platform's");

namespace {

QByteArray wideText(const wchar_t* text) {
    return text ? QString::fromWCharArray(text).toUtf8() : QByteArray();
}

} // namespace

CHidDfuEngine::CHidDfuEngine() : QObject(nullptr), workerManager(this) {}

CHidDfuEngine::~CHidDfuEngine() {
    if (isRunning())
        state.setCode(CHidDfuErrorState::Busy);
    // A transfer cannot be stopped without risking the device; let it end, so
    // that neither the handle nor the thread disappears under it.
    workerManager.thread().wait();
    if (deviceHandle) {
        hid_close(deviceHandle);
        deviceHandle = nullptr;
    }
}

bool CHidDfuEngine::isRunning() const {
    return state.running();
}

int32 CHidDfuEngine::Connect(uint16_t vendorId, uint16_t productId, uint16_t usage,
                             uint16_t usagePage) {
    return connectFirst(vendorId, productId, usage, usagePage, nullptr);
}

int32 CHidDfuEngine::ConnectPath(uint16_t vendorId, uint16_t productId, const char* path) {
    if (!deviceHandle && (!path || !*path))
        return state.setCode(CHidDfuErrorState::InvalidParameter);
    return connectFirst(vendorId, productId, 0, 0, path);
}

int32 CHidDfuEngine::connectFirst(uint16_t vendorId, uint16_t productId, uint16_t usage,
                                  uint16_t usagePage, const char* path) {
    if (deviceHandle)
        return state.setConnectFailure(HidDfuConnectFailure::AlreadyConnected, "Already connected");

    bool matched = false;
    std::string openReason;
    hid_device_info* devices = hid_enumerate(0, 0);
    for (hid_device_info* d = devices; d; d = d->next) {
        qWarning() << "Device Found\n  type: " << d->vendor_id << d->product_id
                   << "\n  path: " << (d->path ? d->path : "")
                   << "\n  serial_number: " << wideText(d->serial_number).constData()
                   << "\n   Manufacturer: " << wideText(d->manufacturer_string).constData()
                   << "\n   Product: " << wideText(d->product_string).constData();
        const bool matches = d->vendor_id == vendorId && d->product_id == productId &&
                             (usage == 0 || d->usage == usage) &&
                             (usagePage == 0 || d->usage_page == usagePage) &&
                             (!path || (d->path && std::strcmp(d->path, path) == 0));
        if (!matches)
            continue;
        std::string holder;
        if (d->path && deviceLock.lock(d->path, holder) == DeviceLock::Outcome::InUse) {
            hid_free_enumeration(devices);
            return state.setConnectFailure(HidDfuConnectFailure::InUse,
                                           "Accessory is in use by another program" +
                                               (holder.empty() ? "" : " (" + holder + ")"));
        }
        matched = true;
        errno = 0;
        deviceHandle = hid_open_path(d->path);
        if (!deviceHandle) {
            openReason = platform::warnOpenFailed(d->path, errno);
            deviceLock.unlock();
        }
        featureReportLength = platform::featureReportLength(deviceHandle, d->path);
        break;
    }
    hid_free_enumeration(devices);

    if (deviceHandle)
        return 0;
    // The wizard shows the table's text either way; the cause tells the
    // flasher which advice fits.
    return state.setConnectFailure(
        matched ? HidDfuConnectFailure::CannotOpen : HidDfuConnectFailure::NoDevice,
        hidDfuResultText(CHidDfuErrorState::FailedToConnect), openReason);
}

int32 CHidDfuEngine::Disconnect() {
    if (isRunning())
        return state.setCode(CHidDfuErrorState::Busy);
    if (deviceHandle) {
        hid_close(deviceHandle);
        deviceHandle = nullptr;
    }
    deviceLock.unlock();
    return 0;
}

int32 CHidDfuEngine::Reset() {
    if (!deviceHandle)
        return state.setCode(CHidDfuErrorState::InvalidSequence);
    if (isRunning())
        return state.setCode(CHidDfuErrorState::Busy);
    const uint8_t report[hidreport::kCommandLength] = {hidreport::kCommandId,
                                                       hidreport::kCommandReset};
    if (hid_send_feature_report(deviceHandle, report, sizeof report) == -1)
        return state.setCode(CHidDfuErrorState::ResetFailed);
    return Disconnect();
}

int32 CHidDfuEngine::startOperation(const char* path, void (AsyncWorkerManager::*signal)()) {
    fileName = path;
    readBack.clear();
    state.start();
    workerManager.startWorker();
    emit(workerManager.*signal)();
    return 0;
}

int32 CHidDfuEngine::Backup(const char* path) {
    if (!path || !*path)
        return state.setCode(CHidDfuErrorState::InvalidParameter);
    return startReading(path);
}

// The worker takes an empty file name, which Backup refuses, for memory.
int32 CHidDfuEngine::ReadBack() {
    return startReading("");
}

int32 CHidDfuEngine::startReading(const char* path) {
    if (!deviceHandle)
        return state.setCode(CHidDfuErrorState::InvalidSequence);
    if (featureReportLength == 0)
        return state.setCodeAndText(CHidDfuErrorState::DriverOperationFailed,
                                    "Feature report length is invalid (0)");
    if (isRunning())
        return state.setCode(CHidDfuErrorState::Busy);
    return startOperation(path, &AsyncWorkerManager::doBackup);
}

int32 CHidDfuEngine::refuseUpgrade() {
    if (!deviceHandle)
        return state.setCode(CHidDfuErrorState::InvalidSequence);
    if (isRunning())
        return state.setCode(CHidDfuErrorState::Busy);
    return 0;
}

int32 CHidDfuEngine::Upgrade(const char* path) {
    if (!path || !*path)
        return state.setCode(CHidDfuErrorState::InvalidParameter);
    if (int32 refused = refuseUpgrade())
        return refused;
    image.clear();
    return startOperation(path, &AsyncWorkerManager::doUpgrade);
}

// The worker takes an empty file name with bytes as the file's contents.
int32 CHidDfuEngine::UpgradeImage(const uint8_t* bytes, uint64_t length) {
    if (!bytes || length == 0)
        return state.setCode(CHidDfuErrorState::InvalidParameter);
    if (int32 refused = refuseUpgrade())
        return refused;
    image.assign(bytes, bytes + length);
    return startOperation("", &AsyncWorkerManager::doUpgrade);
}

std::string CHidDfuEngine::LastError() const {
    return state.lastError();
}

int32 CHidDfuEngine::ConnectFailure(std::string& reason) const {
    return state.connectFailure(reason);
}

uint8 CHidDfuEngine::Progress() const {
    return state.progress();
}

int32 CHidDfuEngine::Result() {
    return state.result();
}

void CHidDfuEngine::SetDefaultMsg_(int32 aErrorCode) {
    state.reportCode(aErrorCode);
}

void CHidDfuEngine::SetMsg_(int32 aErrorCode, std::string aErrorMessage) {
    state.reportCodeAndText(aErrorCode, aErrorMessage);
}

void CHidDfuEngine::SetProgress_(uint8 aProgress) {
    state.setProgress(aProgress);
}

void CHidDfuEngine::SetReadBack_(std::vector<uint8_t> bytes) {
    readBack = std::move(bytes);
}

// ---------------------------------------------------------------------------
// The process's engine and its call interface.

namespace {
CHidDfuEngine theEngine;
thread_local std::string lastErrorCopy;
thread_local std::string openReasonCopy;
} // namespace

CHidDfuEngine& hidDfuEngine() {
    return theEngine;
}

int32 hidDfuConnect(uint16_t vendorId, uint16_t productId, uint16_t usage, uint16_t usagePage) {
    return theEngine.Connect(vendorId, productId, usage, usagePage);
}
int32 hidDfuConnectPath(uint16_t vendorId, uint16_t productId, const char* path) {
    return theEngine.ConnectPath(vendorId, productId, path);
}
uint16_t hidDfuFeatureReportLength(const char* path) {
    if (!path || !*path)
        return 0;
    // Opened only for the descriptor call; an interface this user may not
    // open still has its sysfs route.
    hid_device* device = hid_open_path(path);
    const uint16_t length = platform::featureReportLength(device, path);
    if (device)
        hid_close(device);
    return length;
}
int hidDfuAttachedCount(uint16_t vendorId, uint16_t productId, uint16_t* releaseNumber) {
    hid_device_info* devices = hid_enumerate(vendorId, productId);
    int count = 0;
    if (releaseNumber)
        *releaseNumber = devices ? devices->release_number : 0;
    for (hid_device_info* d = devices; d; d = d->next)
        ++count;
    hid_free_enumeration(devices);
    return count;
}
int32 hidDfuDisconnect() {
    return theEngine.Disconnect();
}
int32 hidDfuReset() {
    return theEngine.Reset();
}
int32 hidDfuBackup(const char* path) {
    return theEngine.Backup(path);
}
int32 hidDfuReadBack() {
    return theEngine.ReadBack();
}
const uint8_t* hidDfuGetReadBack(uint64_t* length) {
    const std::vector<uint8_t>& bytes = theEngine.readBackBytes();
    if (length)
        *length = bytes.size();
    return bytes.empty() ? nullptr : bytes.data();
}
int32 hidDfuUpgrade(const char* path) {
    return theEngine.Upgrade(path);
}

int32 hidDfuUpgradeImage(const uint8_t* bytes, uint64_t length) {
    return theEngine.UpgradeImage(bytes, length);
}
uint8 hidDfuGetProgress() {
    return theEngine.Progress();
}
int32 hidDfuGetResult() {
    return theEngine.Result();
}

const char* hidDfuGetLastError() {
    // A copy private to the calling thread: the engine's own text may change
    // on another thread at any moment.
    lastErrorCopy = theEngine.LastError();
    return lastErrorCopy.c_str();
}

int32 hidDfuGetConnectFailure(const char** reason) {
    std::string text;
    const int32 cause = theEngine.ConnectFailure(text);
    if (reason) {
        openReasonCopy = text;
        *reason = openReasonCopy.c_str();
    }
    return cause;
}
