#include "ThreadPriority.h"

#include <windows.h>

#include <array>

namespace Platform {

// The seven priorities are the system's own thread priorities, idle to
// time-critical; a refusal leaves the thread as it was.
void SetCurrentThreadPriority(std::uint8_t priority)
{
    constexpr std::array<int, 7> Priorities = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                               THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                               THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                               THREAD_PRIORITY_TIME_CRITICAL};
    if (priority < Priorities.size())
        SetThreadPriority(GetCurrentThread(), Priorities[priority]);
}

} // namespace Platform
