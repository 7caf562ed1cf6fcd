#include "textvariant.h"

namespace platform {

const char* textVariant() {
    return "windows";
}

} // namespace platform
