#include "OwnerCallQueue.h"

#include "ApplicationException.h"

#include <QCoreApplication>
#include <QEvent>

namespace {
const QEvent::Type DrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// The sent call this thread is running and has not replied to yet.
struct CallFrame {
    TOwnerCallQueue* queue;
    TSentCall* call;
    CallFrame* outer;
};
thread_local CallFrame* currentFrame = nullptr;
} // namespace

bool InSendMessage()
{
    return currentFrame && currentFrame->call;
}

void ReplyMessage()
{
    if (!InSendMessage())
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
    items_.push_back(Item{&call, {}});
    changed_.notify_all();
    QCoreApplication::postEvent(this, new QEvent(DrainEvent));
    changed_.wait(lock, [&] { return call.replied_; });
}

void TOwnerCallQueue::Post(std::function<void()> function)
{
    std::lock_guard lock(mutex_);
    items_.push_back(Item{nullptr, std::move(function)});
    changed_.notify_all();
    QCoreApplication::postEvent(this, new QEvent(DrainEvent));
}

void TOwnerCallQueue::MarkFinished()
{
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

void TOwnerCallQueue::WaitForFinish()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return finished_ || !items_.empty(); });
        if (!items_.empty()) {
            Item item = std::move(items_.front());
            items_.pop_front();
            lock.unlock();
            Run(std::move(item));
            lock.lock();
            continue;
        }
        return;
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
    if (e->type() != DrainEvent)
        return QObject::event(e);
    Drain();
    return true;
}

void TOwnerCallQueue::Drain()
{
    for (;;) {
        Item item;
        {
            std::lock_guard lock(mutex_);
            if (items_.empty())
                return;
            item = std::move(items_.front());
            items_.pop_front();
        }
        Run(std::move(item));
    }
}

void TOwnerCallQueue::Run(Item item)
{
    if (!item.sent) {
        item.posted();
        return;
    }
    // The body is copied out of the call: once it replies, the sender may
    // destroy the call while the body still runs.
    const std::function<void(TSentCall&)> body = item.sent->body_;
    CallFrame frame{this, item.sent, currentFrame};
    currentFrame = &frame;
    std::exception_ptr error;
    try {
        body(*item.sent);
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
    std::lock_guard lock(mutex_);
    call.replied_ = true;
    changed_.notify_all();
}
