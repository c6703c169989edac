#pragma once

// Which other programs have a device open. Asked before a port is probed: a
// port that a terminal program or a daemon opened without locking it opens
// again without complaint, and would have its lines toggled and bytes
// written under that program.

#include <string>
#include <vector>

namespace Platform {

struct TDeviceUser {
    int Pid = 0;
    // The process's name as the system shows it, empty when unknown.
    std::string Program;
};

struct TDeviceUsers {
    // The other processes that have the device open, by process id.
    std::vector<TDeviceUser> Users;
    // False when some processes could not be looked at (those of other
    // users, unless we are root): the device may have users not listed.
    bool AllSeen = true;
};

// The processes, other than this one, that have the device at path open. A
// process holding the master of a pseudo-terminal is that line's far end,
// not a user of it, even when it keeps the slave open too. processDir is
// where the system lists its processes, or a test's tree of the same shape
// (empty: the system's). Where opening a port is exclusive (Windows), a port
// in use does not open, so nothing is listed here.
TDeviceUsers FindDeviceUsers(const std::string& path, const std::string& processDir = {});

} // namespace Platform
