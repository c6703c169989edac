#pragma once

// What is behind each serial port: the adapter's description, maker, serial
// number, USB ids, where it is plugged in and the driver that serves it.
// Plain C++ with UTF-8 text; the component converts at its boundary.

#include "PortEnum.h"

#include <optional>
#include <string>
#include <vector>

namespace Platform {

struct TPortDetails {
    std::string Name;
    std::string Description;
    std::string Manufacturer;
    std::string SerialNumber;
    int VendorId = -1;
    int ProductId = -1;
    std::string Location;
    std::string Driver;
};

// The ports ListSerialDevices lists, in its order, each with what can be
// told about it (fields that cannot be read stay empty, ids -1), or nothing
// when the source cannot be read.
std::optional<std::vector<TPortDetails>> ListSerialDetails(const TPortSource& source);

} // namespace Platform
