#include "textvariant.h"

namespace platform {

const char* textVariant() {
    return "linux";
}

} // namespace platform
