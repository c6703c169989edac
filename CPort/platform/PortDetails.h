#pragma once

// What is behind each serial port: the adapter's description, maker, serial
// number, USB ids, where it is plugged in and the driver that serves it.
// Plain C++ with UTF-8 text; the component converts at its boundary.

#include "PortEnum.h"

#include <optional>
#include <string>
#include <vector>

namespace Platform {

// Each field holds what the system reported and nothing made up: a field
// that cannot be read stays empty (ids -1), and a label for a port that
// tells nothing is the display's to choose.
struct TPortDetails {
    std::string Name;
    // The device's own product string (a USB adapter's); on Windows, where
    // the device gave none, the device manager's name for the device
    // ("Communications Port").
    std::string Description;
    // The maker string the device itself reported, never the maker of its
    // driver (Windows keeps none, so it stays empty there).
    std::string Manufacturer;
    std::string SerialNumber;
    int VendorId = -1;
    int ProductId = -1;
    std::string Location;
    std::string Driver;
};

// The ports ListSerialDevices lists, in its order, each with what can be
// told about it (fields that cannot be read stay empty, ids -1), or nothing
// when the source cannot be read. On Windows the details come from the
// device manager, which knows the machine's own ports only: the ports of any
// other listing get their names and nothing else.
std::optional<std::vector<TPortDetails>> ListSerialDetails(const TPortSource& source);

} // namespace Platform
