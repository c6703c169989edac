// The thread that waits in a blocking system call for modem-line changes:
// it reports each completion and always stops, even while blocked.
#include "platform/InterruptibleWait.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class Pipe {
public:
    Pipe() { EXPECT_EQ(::pipe(ends_), 0); }
    ~Pipe()
    {
        ::close(ends_[0]);
        ::close(ends_[1]);
    }
    int Reader() const { return ends_[0]; }
    void Write() const { ASSERT_EQ(::write(ends_[1], "x", 1), 1); }

private:
    int ends_[2] = {-1, -1};
};

TEST(InterruptibleWait, ReportsEachCompletionAndStopsWhileBlocked)
{
    Pipe pipe;
    std::mutex mutex;
    std::condition_variable reported;
    int events = 0;
    {
        // A read of an empty pipe blocks in the kernel like the modem-line wait.
        Comm::TInterruptibleWait wait(
            [&] {
                char byte;
                return ::read(pipe.Reader(), &byte, 1) == 1 ? 0 : -1;
            },
            [&] {
                std::lock_guard lock(mutex);
                ++events;
                reported.notify_all();
                return true;
            });
        pipe.Write();
        pipe.Write();
        std::unique_lock lock(mutex);
        ASSERT_TRUE(reported.wait_for(lock, std::chrono::seconds(10), [&] { return events == 2; }));
        // Leaving the scope stops the thread, which is blocked in read again.
    }
    EXPECT_EQ(events, 2);
}

TEST(InterruptibleWait, EndsOnAFailureOtherThanAnInterruption)
{
    Pipe pipe;
    std::mutex mutex;
    std::condition_variable called;
    int calls = 0;
    {
        Comm::TInterruptibleWait wait(
            [&] {
                {
                    std::lock_guard lock(mutex);
                    ++calls;
                    called.notify_all();
                }
                if (calls > 1) {
                    // A retry would block here (until the stop interrupts it).
                    char byte;
                    return ::read(pipe.Reader(), &byte, 1) == 1 ? 0 : -1;
                }
                errno = ENOTTY;
                return -1;
            },
            [] { return true; });
        std::unique_lock lock(mutex);
        ASSERT_TRUE(called.wait_for(lock, std::chrono::seconds(10), [&] { return calls >= 1; }));
        pipe.Write();
    }
    EXPECT_EQ(calls, 1) << "an unsupported wait is not retried";
}

TEST(InterruptibleWait, EndsWhenTheReportSaysSo)
{
    Pipe pipe;
    std::mutex mutex;
    std::condition_variable changed;
    int waits = 0;
    int events = 0;
    {
        Comm::TInterruptibleWait wait(
            [&] {
                {
                    std::lock_guard lock(mutex);
                    ++waits;
                    changed.notify_all();
                }
                char byte;
                return ::read(pipe.Reader(), &byte, 1) == 1 ? 0 : -1;
            },
            [&] {
                std::lock_guard lock(mutex);
                ++events;
                changed.notify_all();
                return false;
            });
        // A second byte is there at once: a thread that went on would take it.
        pipe.Write();
        pipe.Write();
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return events == 1; }));
        EXPECT_FALSE(changed.wait_for(lock, std::chrono::milliseconds(200), [&] { return waits > 1; }))
            << "the wait went on after its report said to end";
    }
    EXPECT_EQ(events, 1);
}

} // namespace
