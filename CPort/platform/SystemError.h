#pragma once

#include <cstdint>
#include <string>

namespace Platform {

// The system's text for one of its error codes (errno on Linux, a Win32
// error code from FormatMessageW on Windows), in the user's language, as
// UTF-8, without the line break Windows' message table ends it with.
std::string SystemErrorText(std::uint32_t error);

} // namespace Platform
