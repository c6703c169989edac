#pragma once

// Calls that a worker thread asks the owning thread (the one that opened the
// port, normally the GUI thread) to run. A sender blocks until its call is
// replied to; the owning thread runs the calls from its event loop, and also
// while it waits for the worker to end, so a worker caught in a call can
// always finish it and see its stop request.

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

class TOwnerCallQueue;

// One blocking call from the worker, on the worker's stack. Its body is a
// plain function with two words of context, so that handing it over copies
// and allocates nothing: it sits on the path of every line event.
class TSentCall {
public:
    using TBody = void (*)(void* context, std::uintptr_t argument);

    TSentCall(TBody body, void* context, std::uintptr_t argument = 0)
        : body_(body), context_(context), argument_(argument)
    {
    }

    // The exception the call raised before it replied, carried back to the sender.
    std::exception_ptr Error;

private:
    friend class TOwnerCallQueue;
    TBody body_;
    void* context_;
    std::uintptr_t argument_;
    bool replied_ = false;
    TSentCall* next_ = nullptr;
};

// True while the calling thread runs a sent call that has not replied yet.
bool InSentCall();
// Replies to the sent call the calling thread is running, if any, so that its
// sender goes on; the call must not touch what the sender owns afterwards.
void ReplySentCall();

class TOwnerCallQueue : public QObject {
public:
    TOwnerCallQueue();
    ~TOwnerCallQueue() override;

    // From the owner, before a new worker starts.
    void BeginWorker();
    // From the worker: runs the call on the owning thread and returns once it
    // replied (at the latest when it finished).
    void Send(TSentCall& call);
    // From the worker: runs the function on the owning thread later, without waiting.
    void Post(std::function<void()> function);
    // From the worker, as its very last step: the owner may stop waiting.
    void MarkFinished();
    // From the owner: runs queued calls until the worker has finished.
    void WaitForFinish();
    // From the owner: true while it runs a call of this queue's worker that
    // has not replied, so the worker is blocked until the call returns.
    bool ServingUnrepliedCall() const;

protected:
    bool event(QEvent* e) override;

private:
    friend void ReplySentCall();
    // Wakes the owning thread's event loop unless a wake-up is on its way.
    void WakeOwner();
    // Takes the next call under the lock: posted ones first (the worker
    // cannot post while it waits in Send, so this keeps their order).
    bool TakeNext(TSentCall*& sent, std::function<void()>& posted);
    void Drain();
    void RunSent(TSentCall& call);
    void ReplyTo(TSentCall& call);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    TSentCall* sentHead_ = nullptr;
    TSentCall* sentTail_ = nullptr;
    std::deque<std::function<void()>> posted_;
    bool wakePending_ = false;
    bool finished_ = false;
};
