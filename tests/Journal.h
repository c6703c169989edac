#pragma once

// A journal of what handlers saw, written from any thread. Waiting for
// entries runs the caller's event loop (synchronised calls are served on it)
// and ends as soon as enough entries are there, or at the time limit.

#include "HandOver.h"

#include <QCoreApplication>
#include <QEvent>
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
            waiter_->Wake();
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
        TWaker waker(loop);
        {
            std::lock_guard lock(mutex_);
            if (entries_.size() >= count)
                return true;
            waiter_ = &waker;
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
    // Ends the wait from whichever thread adds the last entry. The wake-up
    // is an event of our own, so that its hand-over from that thread is
    // marked at both ends and ThreadSanitizer sees everything around it.
    class TWaker : public QObject {
    public:
        explicit TWaker(QEventLoop& loop) : loop_(loop) {}

        void Wake()
        {
            auto* wake = new QEvent(QEvent::User);
            ReleaseHandOver(wake);
            QCoreApplication::postEvent(this, wake);
        }

    protected:
        bool event(QEvent* e) override
        {
            AcquireHandOver(e);
            if (e->type() != QEvent::User)
                return QObject::event(e);
            loop_.quit();
            return true;
        }

    private:
        QEventLoop& loop_;
    };

    mutable std::mutex mutex_;
    QStringList entries_;
    TWaker* waiter_ = nullptr;
    qsizetype wanted_ = 0;
};
