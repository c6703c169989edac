#pragma once

// UTF-8, the layer's text, to and from the UTF-16 of the Windows wide API.
// Invalid input becomes U+FFFD rather than failing: names and messages are
// shown, never trusted.

#include <string>
#include <string_view>

namespace Platform {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

} // namespace Platform
