#pragma once

// Tells that the serial ports of a source may have changed, by the system's
// own change notice, never by reading the source over and over: on Linux
// inotify on the listing and the device directory, on Windows a change
// notice on the registry key above the one that names the ports (which may
// not exist while there are none). The component waits on
// Handle() with its event loop and then calls TakeChanges().

#include "PortEnum.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Platform {

class TPortWatch {
public:
    explicit TPortWatch(const TPortSource& source);
    ~TPortWatch();
    TPortWatch(const TPortWatch&) = delete;
    TPortWatch& operator=(const TPortWatch&) = delete;

    // False when nothing of the source could be watched.
    bool Valid() const;
    // Linux: a descriptor that is readable after a change. Windows: an event
    // handle that is signalled after one.
    std::intptr_t Handle() const;
    // Takes the notices so far and waits for the next ones. Returns the
    // ports the notices tell went away (as the listing names them), in the
    // order they went: a port that goes and comes back between two reads of
    // the list is only seen here. Windows' notice names nothing.
    std::vector<std::string> TakeChanges();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

} // namespace Platform
