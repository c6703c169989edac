#pragma once

#include <cstdint>
#include <string>

namespace Platform {

// Windows: the system's text for an error code (FormatMessageW), in the
// user's language, as UTF-8 and without the message table's line break.
std::string SystemErrorText(std::uint32_t error);

} // namespace Platform
