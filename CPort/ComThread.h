#pragma once

// The event thread of an open port: it waits for line events on the device
// and hands each batch to the port on the thread the port's SyncMethod
// chooses.

#include "ComEvents.h"
#include "OwnerCallQueue.h"
#include "platform/CommLayer.h"

#include <QObject>

#include <atomic>
#include <thread>

class TCustomComPort;

// The port's hidden message receiver for the window method: it lives on the
// thread that opened the port and runs one port routine per message.
class TComEventReceiver {
public:
    explicit TComEventReceiver(TCustomComPort* port) : port_(port) {}

    // Handles message WM_COMPORTEVENT with an event's mask value; other
    // messages do nothing.
    void WindowProc(unsigned message, std::uintptr_t wParam);

private:
    TCustomComPort* port_;
};

class TComThread {
public:
    // Runs once the constructor has finished: stop event, port, priority and
    // event mask are all in place before the body starts.
    // Calls to the owning thread go through ownerCalls, which outlives the
    // thread: a handler run from it may close the port and end this thread.
    TComThread(TCustomComPort* port, TComEventReceiver* receiver, TOwnerCallQueue& ownerCalls);
    // Stops the thread and waits for its end, meanwhile running the calls it
    // sends to the owning thread.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    void Stop();
    TComEvents CurrentEvents() const { return currentEvents_; }
    // True when the calling thread could not wait for this thread's end: it is
    // the event thread itself, or the event thread waits for a call it runs.
    bool WaitWouldDeadlock() const;

private:
    void Execute();
    void DispatchEvents();
    void RunEvents();
    void PostEvents();
    // Tells the owning thread, through the port's error route, that events
    // can no longer be waited for.
    void ReportWaitFailure(Comm::TOsError error);

    TCustomComPort* port_;
    TComEventReceiver* receiver_;
    Comm::TCommLayer& layer_;
    Comm::THandle stopEvent_ = Comm::InvalidHandle;
    TComEvents currentEvents_;
    TOwnerCallQueue& ownerCalls_;
    // Set by the thread itself as it starts, so that nobody reads thread_
    // while the constructor is still assigning it.
    std::atomic<std::thread::id> threadId_;
    std::thread thread_;
};
