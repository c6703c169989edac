#pragma once

// How one sleeping thread is woken: an eventfd that only its owner polls.
// Whoever changes something the thread sleeps on (an event it waits for, a
// device it watches) calls Wake; the owner looks at everything again after
// its poll. A wake-up costs a system call only while the owner is asleep:
// an awake owner looks again anyway before it sleeps.

#include "UniqueFd.h"

#include <atomic>

namespace Comm {

class TWakeup {
public:
    TWakeup();
    TWakeup(const TWakeup&) = delete;
    TWakeup& operator=(const TWakeup&) = delete;

    // False when no eventfd could be made: the owner cannot sleep.
    bool Valid() const { return fd_.Valid(); }
    int Fd() const { return fd_.Get(); }
    void Wake();
    // The owner's side, around its poll: false from FallingAsleep means a
    // wake-up came since the owner last looked, so it looks again instead.
    bool FallingAsleep();
    // After the poll, saying whether it found the descriptor readable.
    void Awake(bool polledReadable);

private:
    UniqueFd fd_;
    std::atomic<bool> woken_{false};
    std::atomic<bool> asleep_{false};
};

} // namespace Comm
