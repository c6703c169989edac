#pragma once

// Reading the small text attributes of a device (the kernel's device tree,
// the device manager's ids), where any entry may be missing, odd or not what
// a device should have written.

#include <filesystem>
#include <string>

namespace Platform {

// The attribute's text without its line end, or empty when the file is
// missing, larger than any attribute we read (MaxAttributeSize), holds more
// than one line, control characters or bytes that are not UTF-8.
inline constexpr std::size_t MaxAttributeSize = 512;
std::string ReadAttribute(const std::filesystem::path& file);

// Whether the text is well-formed UTF-8 on one line, without control
// characters: a string a device reported that can be shown as it is.
bool IsPlainText(const std::string& text);

// A USB id as the kernel writes it (four hex digits), or -1.
int ParseUsbId(const std::string& text);

// The last part of a link's target ("ftdi_sio" for .../drivers/ftdi_sio),
// or empty when there is no such link.
std::string LinkName(const std::filesystem::path& link);

} // namespace Platform
