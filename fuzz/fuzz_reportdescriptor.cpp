// The report descriptor parser on any bytes: it never reads outside them
// (AddressSanitizer), and it either gives a length or says what is wrong.
#include "reportdescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const hiddescriptor::Result r = hiddescriptor::longestFeatureReport(data, size);
    if (r.ok != r.error.empty() || (r.ok && r.featureReportLength < 0))
        __builtin_trap();
    return 0;
}
