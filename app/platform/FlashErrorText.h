#pragma once

#include <cstdint>
#include <string>

namespace Platform {

// The system's text for an error as the tool's message box shows it, in
// every window: trailing characters of code 32 or less and full stops
// removed.
std::string FlashErrorText(std::uint32_t error);

} // namespace Platform
