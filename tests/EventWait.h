#pragma once

// Runs the thread's event loop until a condition holds, at most a bound;
// the loop sleeps until an event arrives rather than spinning.

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

inline bool RunEventsUntil(const std::function<bool()>& done, int boundMs)
{
    const QDeadlineTimer deadline(boundMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, static_cast<int>(deadline.remainingTime()));
    }
    return true;
}

// Runs the loop for a while, for tests that must see nothing happen.
inline void RunEventsFor(int ms)
{
    RunEventsUntil([] { return false; }, ms);
}
