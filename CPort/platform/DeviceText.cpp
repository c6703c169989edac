#include "DeviceText.h"

#include <fstream>
#include <system_error>

namespace Platform {

namespace fs = std::filesystem;

namespace {

// Length of the UTF-8 sequence led by c, or 0 when c cannot lead one.
std::size_t SequenceLength(unsigned char c)
{
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return 2;
    if (c >= 0xE0 && c <= 0xEF)
        return 3;
    if (c >= 0xF0 && c <= 0xF4)
        return 4;
    return 0;
}

} // namespace

// Overlong forms and surrogates are let through: the kernel does not write
// them, and the text is only shown.
bool IsPlainText(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = SequenceLength(c);
        if (length == 0 || i + length > text.size())
            return false;
        if (length == 1 && (c < 0x20 || c == 0x7F))
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

std::string ReadAttribute(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    // One byte more than allowed tells a file that is too large.
    std::string text(MaxAttributeSize + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > MaxAttributeSize)
        return {};
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return IsPlainText(text) ? text : std::string();
}

int ParseUsbId(const std::string& text)
{
    if (text.empty() || text.size() > 4)
        return -1;
    int value = 0;
    for (const char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

std::string LinkName(const fs::path& link)
{
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    if (error)
        return {};
    const std::string name = target.filename().string();
    return IsPlainText(name) ? name : std::string();
}

} // namespace Platform
