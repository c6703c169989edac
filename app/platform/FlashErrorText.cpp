#include "FlashErrorText.h"

#include "SystemError.h"

namespace Platform {

std::string FlashErrorText(std::uint32_t error)
{
    std::string text = SystemErrorText(error);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.'))
        text.pop_back();
    return text;
}

} // namespace Platform
