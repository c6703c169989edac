#pragma once

// The flasher's parameters for a port and a boot loader speed, the same for
// every window of the tool: plain C++ on UTF-8 text.

#include <string>
#include <string_view>

namespace Platform {

// The firmware image that belongs to a boot loader speed: exact,
// case-sensitive match of the whole text, else no image.
std::string FirmwareImageForSpeed(std::string_view speedText);

// The flasher's parameter line: seven pieces joined with nothing between
// them, nothing validated, quoted or escaped.
std::string FlashParameterLine(std::string_view portText, std::string_view speedText);

} // namespace Platform
