#pragma once

// The serial ports of the machine, as the operating system lists them, and
// the port a new component opens until told otherwise. Plain C++: the
// component converts the names at its boundary.

#include <optional>
#include <string>
#include <vector>

namespace Platform {

// Where the serial devices are listed. On Linux, Listing is the kernel's tty
// class directory and DeviceDir the directory the device nodes are named in;
// on Windows, Listing is the key under HKEY_LOCAL_MACHINE whose values name
// the ports, and DeviceDir is unused. Tests point them at trees of their own.
struct TPortSource {
    std::string Listing;
    std::string DeviceDir;
};

// The machine's own source.
TPortSource MachinePortSource();

// The serial devices in no particular order (UTF-8 names, as the component
// opens them), or nothing when the source cannot be read.
std::optional<std::vector<std::string>> ListSerialDevices(const TPortSource& source);

// The first serial port by the platform's naming.
#ifdef _WIN32
inline constexpr char DefaultPortName[] = "COM1";
#else
inline constexpr char DefaultPortName[] = "/dev/ttyS0";
#endif

} // namespace Platform
