#include "ThreadPriority.h"

#include <array>

#include <sys/resource.h>
#include <unistd.h>

namespace Platform {

// Maps the seven priorities onto nice values of the calling thread. Raising a
// priority needs privileges the tool usually lacks; the refusal is ignored
// and the thread keeps normal priority.
void SetCurrentThreadPriority(std::uint8_t priority)
{
    constexpr std::array<int, 7> NiceValues = {19, 10, 5, 0, -5, -10, -20};
    if (priority >= NiceValues.size() || priority == 3)
        return;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), NiceValues[priority]);
}

} // namespace Platform
