#include "asyncworker.h"

#include "dfufile.h"

#include <QThread>

AsyncWorker::AsyncWorker(hid_device* handle, std::string name, int32 reportLength,
                         std::vector<uint8_t> bytes, uint16_t bcdDevice)
    : QObject(nullptr), deviceHandle(handle), fileName(std::move(name)),
      featureReportLength(reportLength), image(std::move(bytes)), backupBcdDevice(bcdDevice) {}

AsyncWorker::~AsyncWorker() = default;

int32 AsyncWorker::ReportMessage(int32 code, const std::string& text) {
    emit setMessage(code, text);
    return code;
}

void AsyncWorker::finish(int32 result) {
    emit exitCode(result);
    QThread::currentThread()->exit(0);
}

int32 AsyncWorker::ReportCheck(const dfu::CheckResult& check) {
    if (check.code == 0)
        return 0;
    if (check.message.empty()) {
        emit setDefaultMessage(check.code);
        return check.code;
    }
    return ReportMessage(check.code, check.message);
}
