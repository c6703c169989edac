#include "Wakeup.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace Comm {

TWakeup::TWakeup() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void TWakeup::Wake()
{
    if (armed_.exchange(true, std::memory_order_acq_rel))
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_.Get(), &one, sizeof one);
}

void TWakeup::Consume(bool polledReadable)
{
    // A Wake that had set the flag but not yet written when the owner last
    // consumed leaves the descriptor readable with the flag clear: the poll
    // reports it, and it is read here, or every poll would return at once.
    if (!polledReadable && !armed_.load(std::memory_order_acquire))
        return;
    // The count is read before the flag is cleared: a Wake in between finds
    // the flag still set and writes nothing, and what it announces is seen
    // when the owner looks again, which it does next.
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_.Get(), &count, sizeof count);
    armed_.store(false, std::memory_order_release);
}

} // namespace Comm
