#pragma once

// A thread that sits in one blocking system call over and over (the wait for
// a modem-line change, which poll cannot watch) and reports each completion.
// Stopping it interrupts the call with a signal, repeated until the thread has
// ended, so a stop can never be lost to the moment before the call starts.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace Comm {

class TInterruptibleWait {
public:
    // wait blocks and returns 0 when something happened, or -1 with errno.
    // EINTR makes it wait again (or stop); any other failure ends the thread,
    // and so does an onEvent that returns false.
    TInterruptibleWait(std::function<int()> wait, std::function<bool()> onEvent);
    ~TInterruptibleWait();
    TInterruptibleWait(const TInterruptibleWait&) = delete;
    TInterruptibleWait& operator=(const TInterruptibleWait&) = delete;

    // Interrupts the call once, if the thread runs: it then waits again, as
    // after any interruption. A signal that lands just before the call is
    // spent on nothing, and the call still starts after this returned.
    void Interrupt();

    // The signal used to interrupt the call. Its handler, installed once,
    // does nothing and leaves system calls interrupted (no SA_RESTART).
    static int InterruptSignal();

private:
    void Run();

    std::function<int()> wait_;
    std::function<bool()> onEvent_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool stop_ = false;
    bool running_ = true;
    std::thread thread_;
};

} // namespace Comm
