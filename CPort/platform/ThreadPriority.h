#pragma once

#include <cstdint>

namespace Platform {

// Gives the calling thread one of the component's seven priorities (0 idle,
// 3 normal, 6 time-critical). A refusal by the system is ignored: the thread
// keeps the priority it had.
void SetCurrentThreadPriority(std::uint8_t priority);

} // namespace Platform
