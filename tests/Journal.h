#pragma once

// A journal of what handlers saw, written from any thread. Waiting for
// entries runs the caller's event loop (synchronised calls are served on it)
// and ends as soon as enough entries are there, or at the time limit.

#include <QCoreApplication>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <mutex>

class TJournal {
public:
    void Add(const QString& entry)
    {
        std::lock_guard lock(mutex_);
        entries_.append(entry);
        if (waiter_ && entries_.size() >= wanted_)
            QMetaObject::invokeMethod(waiter_, &QEventLoop::quit, Qt::QueuedConnection);
    }

    QStringList Entries() const
    {
        std::lock_guard lock(mutex_);
        return entries_;
    }

    void Clear()
    {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

    // True when at least count entries arrived within timeoutMs.
    bool WaitFor(qsizetype count, int timeoutMs = 5000)
    {
        QEventLoop loop;
        {
            std::lock_guard lock(mutex_);
            if (entries_.size() >= count)
                return true;
            waiter_ = &loop;
            wanted_ = count;
        }
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        std::lock_guard lock(mutex_);
        waiter_ = nullptr;
        return entries_.size() >= count;
    }

    // Runs the event loop until everything already posted has been handled.
    static void Settle() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

private:
    mutable std::mutex mutex_;
    QStringList entries_;
    QEventLoop* waiter_ = nullptr;
    qsizetype wanted_ = 0;
};
