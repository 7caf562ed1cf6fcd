// The backup: the device's firmware read back, reply by reply, into a DFU
// file that replaces the previous one only once complete.
#include "asyncworker.h"

#include "chiddfuerrorstate.h"
#include "dfufile.h"
#include "files.h"
#include "hidreports.h"
#include "memoryfile.h"
#include "workerhelpers.h"

#include <QDebug>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

using namespace hidreport;
using Code = CHidDfuErrorState::Code;
using worker::progressOf;
using worker::quoted;

void AsyncWorker::DoBackup() {
    emit progressChanged(0);

    // A read-back (no file name) is kept in memory: a comparison after a good
    // write must not fail for want of room in a temporary folder.
    if (fileName.empty()) {
        std::string why;
        std::FILE* memory = platform::memoryFile(why);
        if (!memory) {
            emit readBack({});
            finish(
                ReportMessage(Code::OutOfMemory, "Out of memory for the read-back (" + why + ")"));
            return;
        }
        int32 result = runBackup(memory);
        std::vector<uint8_t> bytes(result == 0 ? std::size_t(std::ftell(memory)) : 0);
        std::rewind(memory);
        if (std::fread(bytes.data(), 1, bytes.size(), memory) != bytes.size()) {
            emit setDefaultMessage(Code::FileReadFailed);
            result = Code::FileReadFailed;
            bytes.clear();
        }
        std::fclose(memory);
        emit readBack(std::move(bytes));
        finish(result);
        return;
    }

    // Through a link the backup replaces the file the link leads to: renamed
    // over the link itself it would replace the link. A device node, FIFO,
    // folder or a link to nothing is never replaced by a file.
    std::string why;
    const std::string target = platform::resolveWriteTarget(fileName, why);
    if (target.empty()) {
        finish(ReportMessage(Code::FailedToOpenFile,
                             "Failed to open file " + quoted(fileName) + ": " + why));
        return;
    }
    fileName = target;

    // The backup goes to a new file beside the target and replaces it only
    // once complete, so that a failed backup never destroys the previous
    // good one.
    dfu::ReplacementFile partial;
    const bool created = partial.create(fileName);
    const int openError = errno;
    qWarning() << "File to write to: " << fileName.c_str();
    if (!created) {
        // The file opened is a new one in the target's folder: when that
        // folder is what refuses, say so rather than blame the file.
        const std::string folder = platform::folderOf(fileName);
        std::string text = "Failed to open file " + quoted(fileName) + ". File must be writable.";
        if (!platform::canCreateFilesIn(folder))
            text = "Failed to open file " + quoted(fileName) + ": cannot create a file in folder " +
                   quoted(folder) + " (" + std::strerror(openError) + ")";
        finish(ReportMessage(Code::FailedToOpenFile, text));
        return;
    }

    int32 result = runBackup(partial.file());
    if (result == 0 && !partial.commit(why))
        result = ReportMessage(Code::FailedToWriteFile,
                               "Failed to write to file " + quoted(fileName) + ": " + why);
    // Gone before the exit code says the backup ended.
    partial.discard();
    finish(result);
}

int32 AsyncWorker::runBackup(std::FILE* file) {
    const std::size_t length = std::size_t(featureReportLength);
    if (length <= kDataHeaderLength)
        return ReportMessage(Code::DriverOperationFailed,
                             "Feature report length is invalid (" + std::to_string(length) + ")");

    std::vector<uint8_t> buffer(length, 0);
    dfu::Crc32 crc;
    crc.set(0xFFFFFFFFu);

    // The image's first bytes, up to its length field. A report large enough
    // delivers them in the first reply; a smaller one over several.
    constexpr std::size_t kHeaderLength = dfu::kImageLengthOffset + dfu::kImageLengthSize;
    uint8_t header[kHeaderLength] = {};
    uint32_t received = 0;
    uint32_t total = 0;
    bool totalKnown = false;

    while (!totalKnown || received < total) {
        if (totalKnown)
            emit progressChanged(progressOf(double(total - received), double(total)));
        std::fill(buffer.begin(), buffer.end(), uint8_t(0));
        uint16_t dataLength = 0;
        int32 result = ReadBackupBlock(buffer.data(), uint16_t(length), dataLength);
        if (result != 0)
            return result;

        if (!totalKnown) {
            const std::size_t take = std::min<std::size_t>(dataLength, kHeaderLength - received);
            std::copy_n(buffer.begin(), take, header + received);
            if (dataLength == 0 || received + dataLength >= kHeaderLength) {
                total = dfu::le32(header + dfu::kImageLengthOffset);
                totalKnown = true;
                if (total == 0)
                    return ReportMessage(Code::UnknownError, "Device reports DFU length of zero");
                // The field lies inside the image: a smaller length contradicts
                // the bytes that carry it, and the count still due would wrap.
                if (total < kHeaderLength)
                    return ReportMessage(Code::UnknownError, "Device reports DFU length of " +
                                                                 std::to_string(total) +
                                                                 " bytes, shorter than the " +
                                                                 std::to_string(kHeaderLength) +
                                                                 " bytes that carry it");
                // No firmware file could carry more: the backup would fill
                // the disk for hours before the device's count showed false.
                constexpr uint64_t kMaxImage = kHidDfuMaxFirmwareFileBytes - dfu::kSuffixLength;
                if (total > kMaxImage)
                    return ReportMessage(Code::UnknownError,
                                         "Device reports DFU length of " + std::to_string(total) +
                                             " bytes, more than the " + std::to_string(kMaxImage) +
                                             " bytes a firmware image can have");
            }
        }
        // A device that stops delivering, or delivers more than the image
        // holds, would otherwise keep this loop going or corrupt the file.
        if (totalKnown && dataLength == 0)
            return ReportMessage(Code::UnknownError, "Device sent an empty backup block with " +
                                                         std::to_string(total - received) +
                                                         " bytes of the image still due");
        if (totalKnown && dataLength > total - received)
            return ReportMessage(Code::UnknownError, "Device sent " + std::to_string(dataLength) +
                                                         " bytes with only " +
                                                         std::to_string(total - received) +
                                                         " bytes of the image still due");

        crc.update(buffer.data(), dataLength);
        if (std::fwrite(buffer.data(), 1, dataLength, file) < dataLength) {
            emit setDefaultMessage(Code::FailedToWriteFile);
            return Code::FailedToWriteFile;
        }
        received += dataLength;
    }

    uint8_t suffix[dfu::kSuffixLength];
    dfu::buildBackupSuffix(suffix, crc);
    if (std::fwrite(suffix, 1, sizeof suffix, file) < sizeof suffix) {
        emit setDefaultMessage(Code::FailedToWriteFile);
        return Code::FailedToWriteFile;
    }
    // A write the buffer still holds fails here rather than unnoticed.
    if (std::fflush(file) != 0) {
        emit setDefaultMessage(Code::FailedToWriteFile);
        return Code::FailedToWriteFile;
    }
    return 0;
}
