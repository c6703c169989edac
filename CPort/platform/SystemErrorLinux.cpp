#include "SystemError.h"

#include <cstring>

namespace Platform {

std::string SystemErrorText(std::uint32_t error)
{
    char buffer[256];
    // The GNU strerror_r returns the text, which need not be in the buffer.
    return ::strerror_r(static_cast<int>(error), buffer, sizeof buffer);
}

} // namespace Platform
