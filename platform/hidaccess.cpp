// The log category every platform's HID access writes its advice to.
#include "hidaccess.h"

namespace platform {
Q_LOGGING_CATEGORY(adviceLog, kAdviceLog)
} // namespace platform
