#include "DeviceIds.h"
#include "DeviceText.h"

#include <vector>

namespace Platform {

namespace {

std::vector<std::string> Split(const std::string& text, const char* separators)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find_first_of(separators, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Ids are written in upper case, but hardware ids are not always
// ("USB\Vid_2341&Pid_0043").
bool SameText(const std::string& text, const std::string& upper)
{
    if (text.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (Upper(text[i]) != upper[i])
            return false;
    }
    return true;
}

// The hex number after key ("VID_") when the part starts with it, or -1.
int NumberAfter(const std::string& part, const std::string& key)
{
    if (part.size() <= key.size() || !SameText(part.substr(0, key.size()), key))
        return -1;
    return ParseUsbId(part.substr(key.size()));
}

// Windows makes up the last part of an instance id for a device that reports
// no serial number, or one it does not take as unique: such parts always
// carry '&' (5&2b7c0f36&0&1), which no serial number it takes does.
bool MadeUp(const std::string& part)
{
    return part.empty() || part.find('&') != std::string::npos;
}

// The FTDI driver names each port after the chip's serial number with a
// letter for the chip's port appended: A for the only port of a single-port
// chip, A to D for the ports of a multi-port one (FT2232, FT4232). The
// serial number is the device's without that letter, as the chip reports
// it on the bus; the letter tells the port.
void ReadFtdiPort(const std::string& devicePart, TDeviceId& id)
{
    const std::vector<std::string> fields = Split(devicePart, "+");
    if (fields.size() != 3 || fields[2].size() < 2 || MadeUp(fields[2]))
        return;
    const char letter = fields[2].back();
    if (letter < 'A' || letter > 'Z')
        return;
    id.SerialNumber = fields[2].substr(0, fields[2].size() - 1);
    id.Interface = letter - 'A';
}

} // namespace

TDeviceId ParseDeviceId(const std::string& text)
{
    TDeviceId id;
    const std::vector<std::string> parts = Split(text, "\\");
    if (parts.size() < 2 || parts.size() > 3)
        return id;
    for (const std::string& field : Split(parts[1], "&+")) {
        if (const int vendor = NumberAfter(field, "VID_"); vendor >= 0)
            id.VendorId = vendor;
        else if (const int product = NumberAfter(field, "PID_"); product >= 0)
            id.ProductId = product;
        else if (const int number = NumberAfter(field, "MI_"); number >= 0)
            id.Interface = number;
    }
    const std::string instance = parts.size() == 3 ? parts[2] : std::string();
    if (SameText(parts[0], "USB")) {
        // An interface's own instance id is always made up: its serial
        // number is its device's, one level up.
        id.Kind = id.Interface < 0 ? TDeviceKind::UsbDevice : TDeviceKind::UsbInterface;
        if (id.Kind == TDeviceKind::UsbDevice && !MadeUp(instance))
            id.SerialNumber = instance;
    } else if (SameText(parts[0], "FTDIBUS")) {
        id.Kind = TDeviceKind::FtdiPort;
        if (!instance.empty())
            ReadFtdiPort(parts[1], id);
    }
    return id;
}

} // namespace Platform
