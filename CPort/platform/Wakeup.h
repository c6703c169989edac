#pragma once

// How one sleeping thread is woken: an eventfd that only its owner polls.
// Whoever changes something the thread sleeps on (an event it waits for, a
// device it watches) calls Wake; the owner consumes the wake-up after its
// poll and looks at everything again. A thread that is already awake, or
// already has a wake-up pending, costs no system call.

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
    // Called by the owner after its poll, before it looks again, saying
    // whether the poll found the descriptor readable: a Wake after this point
    // writes the descriptor anew.
    void Consume(bool polledReadable);

private:
    UniqueFd fd_;
    std::atomic<bool> armed_{false};
};

} // namespace Comm
