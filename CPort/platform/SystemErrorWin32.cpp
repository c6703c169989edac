#include "SystemError.h"

#include "WideText.h"

#include <windows.h>

namespace Platform {

std::string SystemErrorText(std::uint32_t error)
{
    wchar_t buffer[512];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    std::wstring_view text(buffer, length);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.remove_suffix(1);
    if (text.empty())
        return "Unknown error " + std::to_string(error);
    return Utf8FromWide(text);
}

} // namespace Platform
