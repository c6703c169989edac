#include "../ComThread.h"

#include <array>

#include <sys/resource.h>
#include <unistd.h>

// Maps the seven event-thread priorities (idle .. time-critical) onto nice
// values of the calling thread. Raising a priority needs privileges the tool
// usually lacks; the refusal is ignored and the thread keeps normal priority.
void SetCurrentThreadPriority(std::uint8_t eventThreadPriority)
{
    constexpr std::array<int, 7> NiceValues = {19, 10, 5, 0, -5, -10, -20};
    if (eventThreadPriority >= NiceValues.size() || eventThreadPriority == 3)
        return;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), NiceValues[eventThreadPriority]);
}
