#include "OwnerCallQueue.h"

#include "ApplicationException.h"
#include "HandOver.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <new>

namespace {
const QEvent::Type DrainEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// The event that wakes the owning thread. Qt frees every posted event once
// it is delivered; these go back to a free list instead, so a wake-up
// allocates nothing once the first has been made.
class TDrainEvent : public QEvent {
public:
    TDrainEvent() : QEvent(DrainEventType) {}

    static void* operator new(std::size_t size)
    {
        {
            std::lock_guard lock(poolMutex);
            if (FreeBlock* block = freeBlocks) {
                freeBlocks = block->next;
                return block;
            }
        }
        return ::operator new(std::max(size, sizeof(FreeBlock)));
    }
    static void operator delete(void* memory)
    {
        std::lock_guard lock(poolMutex);
        freeBlocks = new (memory) FreeBlock{freeBlocks};
    }

private:
    struct FreeBlock {
        FreeBlock* next;
    };
    static inline std::mutex poolMutex;
    static inline FreeBlock* freeBlocks = nullptr;
};

// The sent call this thread is running and has not replied to yet.
struct CallFrame {
    TOwnerCallQueue* queue;
    TSentCall* call;
    CallFrame* outer;
};
thread_local CallFrame* currentFrame = nullptr;
} // namespace

bool InSentCall()
{
    return currentFrame && currentFrame->call;
}

void ReplySentCall()
{
    if (!InSentCall())
        return;
    TSentCall* call = currentFrame->call;
    currentFrame->call = nullptr;
    currentFrame->queue->ReplyTo(*call);
}

TOwnerCallQueue::TOwnerCallQueue() = default;

// Every worker has finished by now, and WaitForFinish ran what they posted.
TOwnerCallQueue::~TOwnerCallQueue() = default;

void TOwnerCallQueue::BeginWorker()
{
    std::lock_guard lock(mutex_);
    finished_ = false;
}

void TOwnerCallQueue::Send(TSentCall& call)
{
    std::unique_lock lock(mutex_);
    call.replied_ = false;
    call.next_ = nullptr;
    if (sentTail_)
        sentTail_->next_ = &call;
    else
        sentHead_ = &call;
    sentTail_ = &call;
    changed_.notify_all();
    WakeOwner();
    changed_.wait(lock, [&] { return call.replied_; });
}

void TOwnerCallQueue::Post(std::function<void()> function)
{
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(function));
    changed_.notify_all();
    WakeOwner();
}

void TOwnerCallQueue::WakeOwner()
{
    if (wakePending_)
        return;
    wakePending_ = true;
    auto* wake = new TDrainEvent;
    // Made here, read on the owning thread: Qt's queue hands it over.
    ReleaseHandOver(wake);
    QCoreApplication::postEvent(this, wake);
}

void TOwnerCallQueue::MarkFinished()
{
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

bool TOwnerCallQueue::TakeNext(TSentCall*& sent, std::function<void()>& posted)
{
    if (!posted_.empty()) {
        posted = std::move(posted_.front());
        posted_.pop_front();
        return true;
    }
    if (sentHead_) {
        sent = sentHead_;
        sentHead_ = sent->next_;
        if (!sentHead_)
            sentTail_ = nullptr;
        return true;
    }
    return false;
}

void TOwnerCallQueue::WaitForFinish()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return finished_ || sentHead_ || !posted_.empty(); });
        TSentCall* sent = nullptr;
        std::function<void()> posted;
        if (!TakeNext(sent, posted))
            return;
        lock.unlock();
        if (sent)
            RunSent(*sent);
        else
            posted();
        lock.lock();
    }
}

bool TOwnerCallQueue::ServingUnrepliedCall() const
{
    for (const CallFrame* frame = currentFrame; frame; frame = frame->outer) {
        if (frame->queue == this && frame->call)
            return true;
    }
    return false;
}

bool TOwnerCallQueue::event(QEvent* e)
{
    AcquireHandOver(e);
    if (e->type() != DrainEventType)
        return QObject::event(e);
    Drain();
    return true;
}

// At most one sent call per wake-up: a worker under a stream of events sends
// its next call as soon as the last one replied, and running them all here
// would keep the owner's event loop from turning (no timer, no repaint, no
// input) for as long as the stream lasts. The next call waits behind what the
// loop had queued meanwhile.
void TOwnerCallQueue::Drain()
{
    for (;;) {
        TSentCall* sent = nullptr;
        std::function<void()> posted;
        {
            std::lock_guard lock(mutex_);
            if (!TakeNext(sent, posted)) {
                wakePending_ = false;
                return;
            }
        }
        if (!sent) {
            posted();
            continue;
        }
        RunSent(*sent);
        std::lock_guard lock(mutex_);
        wakePending_ = false;
        if (sentHead_ || !posted_.empty())
            WakeOwner();
        return;
    }
}

void TOwnerCallQueue::RunSent(TSentCall& call)
{
    // The body is taken out of the call first: once it replies, the sender
    // may destroy the call while the body still runs.
    const TSentCall::TBody body = call.body_;
    void* const context = call.context_;
    const std::uintptr_t argument = call.argument_;
    CallFrame frame{this, &call, currentFrame};
    currentFrame = &frame;
    std::exception_ptr error;
    try {
        body(context, argument);
    } catch (...) {
        error = std::current_exception();
    }
    currentFrame = frame.outer;
    if (frame.call) {
        // Moved, not copied: the sender owns the exception from here on.
        frame.call->Error = std::move(error);
        ReplyTo(*frame.call);
    } else if (error) {
        // Raised after the reply: the sender cannot take it back any more.
        try {
            std::rethrow_exception(error);
        } catch (...) {
            HandleApplicationException(nullptr);
        }
    }
}

void TOwnerCallQueue::ReplyTo(TSentCall& call)
{
    {
        std::lock_guard lock(mutex_);
        call.replied_ = true;
    }
    // Notified after the lock is released, so that the woken sender does
    // not at once block again on it.
    changed_.notify_all();
}
