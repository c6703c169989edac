#pragma once

// What the enumeration and priority tests need from the machine, one file
// per platform: a port listing the test fills (a tty class tree on Linux, a
// registry key on Windows), and the calling thread's priority as the system
// reports it.

#include "PortEnum.h"

#include <cstdint>
#include <memory>
#include <string>

// The same case in each platform's own names.
#ifdef _WIN32
#define PLATFORM_PORT(linuxName, windowsName) windowsName
#else
#define PLATFORM_PORT(linuxName, windowsName) linuxName
#endif

namespace PlatformTest {

class TPortListing {
public:
    virtual ~TPortListing() = default;
    // A serial port by its own name (ttyUSB0, COM3).
    virtual void AddSerial(const std::string& port) = 0;
    // An entry of the listing that is no serial port the user can open.
    virtual void AddOther(const std::string& entry) = 0;
    virtual Platform::TPortSource Source() const = 0;
    // The port's name as the listing gives it.
    virtual std::string Listed(const std::string& port) const = 0;
};

// An empty listing of the test's own, removed at the end.
std::unique_ptr<TPortListing> MakePortListing();

// The system's priority of the calling thread, as one of the component's
// seven (0 idle .. 6 time-critical), or -1 when it is none of them.
int CurrentThreadPriority();

} // namespace PlatformTest
