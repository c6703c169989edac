#pragma once

// Calls that a worker thread asks the owning thread (the one that opened the
// port, normally the GUI thread) to run. A sender blocks until its call is
// replied to; the owning thread runs the calls from its event loop, and also
// while it waits for the worker to end, so a worker caught in a call can
// always finish it and see its stop request.

#include <QObject>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

class TOwnerCallQueue;

class TSentCall {
public:
    explicit TSentCall(std::function<void(TSentCall&)> body) : body_(std::move(body)) {}

    // The exception the call raised before it replied, carried back to the sender.
    std::exception_ptr Error;

private:
    friend class TOwnerCallQueue;
    std::function<void(TSentCall&)> body_;
    bool replied_ = false;
};

// True while the calling thread runs a sent call that has not replied yet.
bool InSendMessage();
// Replies to the sent call the calling thread is running, if any, so that its
// sender goes on; the call must not touch what the sender owns afterwards.
void ReplyMessage();

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
    friend void ReplyMessage();
    struct Item {
        TSentCall* sent = nullptr;
        std::function<void()> posted;
    };
    void Drain();
    void Run(Item item);
    void ReplyTo(TSentCall& call);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> items_;
    bool finished_ = false;
};
