#pragma once

// Small helpers the Linux backend's files share.

#include "CommLayer.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include <poll.h>

namespace Comm {

inline TOsError LastError()
{
    return static_cast<TOsError>(errno);
}

// now + ms, or the clock's last instant when that lies beyond it: a timeout
// too long for the clock waits as long as the clock allows.
inline std::chrono::steady_clock::time_point SaturatedDeadline(std::chrono::steady_clock::time_point now,
                                                               std::uint64_t ms)
{
    using Clock = std::chrono::steady_clock;
    const auto left = Clock::time_point::max() - now;
    const auto leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
    if (ms >= static_cast<std::uint64_t>(leftMs))
        return Clock::time_point::max();
    return now + std::chrono::milliseconds(ms);
}

// Sleeps in poll on fds until one is ready or the deadline passes (none:
// no limit). An interrupted poll counts as a wake-up with nothing ready.
TOsError PollUntil(std::span<pollfd> fds, std::optional<std::chrono::steady_clock::time_point> deadline);

} // namespace Comm
