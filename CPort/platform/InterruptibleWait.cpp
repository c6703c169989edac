#include "InterruptibleWait.h"

#include <cerrno>
#include <chrono>
#include <csignal>

#include <pthread.h>

namespace Comm {

namespace {
void IgnoreInterrupt(int) {}
} // namespace

int TInterruptibleWait::InterruptSignal()
{
    static const int signal = [] {
        const int chosen = SIGRTMIN + 4;
        struct sigaction action {};
        action.sa_handler = IgnoreInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(chosen, &action, nullptr);
        return chosen;
    }();
    return signal;
}

TInterruptibleWait::TInterruptibleWait(std::function<int()> wait, std::function<bool()> onEvent)
    : wait_(std::move(wait)), onEvent_(std::move(onEvent))
{
    InterruptSignal();
    thread_ = std::thread([this] { Run(); });
}

TInterruptibleWait::~TInterruptibleWait()
{
    std::unique_lock lock(mutex_);
    stop_ = true;
    // The signal may land just before the thread enters the call and be lost;
    // it is sent again, less often each time, until the thread has ended.
    auto pause = std::chrono::milliseconds(1);
    while (running_) {
        pthread_kill(thread_.native_handle(), InterruptSignal());
        ended_.wait_for(lock, pause, [&] { return !running_; });
        pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }
    lock.unlock();
    thread_.join();
}

void TInterruptibleWait::Interrupt()
{
    std::lock_guard lock(mutex_);
    if (running_)
        pthread_kill(thread_.native_handle(), InterruptSignal());
}

void TInterruptibleWait::Run()
{
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, InterruptSignal());
    pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                break;
        }
        if (wait_() == 0) {
            if (onEvent_())
                continue;
            break;
        }
        if (errno != EINTR)
            break;
    }
    std::lock_guard lock(mutex_);
    running_ = false;
    ended_.notify_all();
}

} // namespace Comm
