#pragma once
// One backup or upgrade of a worker on the fuzz device, with the report
// length the input's first byte chooses (7 to 70).
#include "asyncworker.h"
#include "fuzzdevice.h"

#include <string>

namespace fuzzdevice {

struct Outcome {
    int exits = 0; // exit codes the worker emitted: exactly one is sound
    int32 code = 1;
};

inline Outcome runWorker(const uint8_t* data, std::size_t size, const std::string& path,
                         void (AsyncWorker::*operation)()) {
    load(data, size);
    const int32 length = 7 + take(57) % 64;
    AsyncWorker worker(handle(), path, length);
    Outcome outcome;
    QObject::connect(&worker, &AsyncWorker::exitCode, [&](int32 code) {
        ++outcome.exits;
        outcome.code = code;
    });
    (worker.*operation)();
    return outcome;
}

} // namespace fuzzdevice
