#include "PortEnum.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace Platform {

namespace fs = std::filesystem;

namespace {

// A legacy port's UART type, from its "type" file; 0 (unknown) or a file
// that cannot be read or parsed means no UART is there.
bool HasUart(const fs::path& entry)
{
    std::ifstream file(entry / "type");
    std::string text;
    if (!file || !std::getline(file, text))
        return false;
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    if (first == std::string::npos)
        return false;
    int type = 0;
    const char* end = text.data() + last + 1;
    const auto [ptr, error] = std::from_chars(text.data() + first, end, type);
    return error == std::errc{} && ptr == end && type != 0;
}

} // namespace

TPortSource MachinePortSource()
{
    return {"/sys/class/tty", "/dev"};
}

// Every entry of the tty class with a "device" link is a serial device. The
// kernel also lists the legacy ttyS ports it reserves whether or not a UART is
// there; those whose UART type is unknown (0) are ghosts and left out.
std::optional<std::vector<std::string>> ListSerialDevices(const TPortSource& source)
{
    std::error_code error;
    fs::directory_iterator entries(source.Listing, error);
    if (error)
        return std::nullopt;
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : entries) {
        std::error_code statusError;
        const fs::file_type device = fs::symlink_status(entry.path() / "device", statusError).type();
        if (device == fs::file_type::not_found || device == fs::file_type::none)
            continue;
        const std::string name = entry.path().filename().string();
        if (name.starts_with("ttyS") && !HasUart(entry.path()))
            continue;
        names.push_back(source.DeviceDir + '/' + name);
    }
    // The directory's order is the file system's; ties in the component's
    // case-blind sort keep this one, so it must not vary between runs.
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace Platform
