#include "Wakeup.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace Comm {

TWakeup::TWakeup() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

// Wake and FallingAsleep each store their flag and then read the other's
// (both sequentially consistent): at least one of them sees the other, so
// an owner going to sleep either finds the wake-up or gets the write.
void TWakeup::Wake()
{
    if (woken_.exchange(true))
        return;
    if (asleep_.load()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd_.Get(), &one, sizeof one);
    }
}

bool TWakeup::FallingAsleep()
{
    asleep_.store(true);
    if (!woken_.load())
        return true;
    asleep_.store(false);
    woken_.store(false);
    return false;
}

void TWakeup::Awake(bool polledReadable)
{
    asleep_.store(false);
    // A write that came after the poll returned stays in the descriptor; the
    // next poll reports it at once and it is read then.
    if (polledReadable) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd_.Get(), &count, sizeof count);
    }
    woken_.store(false);
}

} // namespace Comm
