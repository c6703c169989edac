#include "ComThread.h"

#include "ApplicationException.h"
#include "ComPort.h"
#include "platform/ThreadPriority.h"

#include <QThread>

#include <array>

using namespace Comm;

namespace {
// RunEvents and PostEvents visit the events in this order.
constexpr std::array<TComEvent, 10> DispatchOrder = {
    evError, evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR, evRxFlag, evRLSD, evRx80Full};
} // namespace

void TComEventReceiver::WindowProc(unsigned message, std::uintptr_t wParam)
{
    if (message != WM_COMPORTEVENT)
        return;
    // A handler may close the port, which frees this receiver: only locals
    // are used once the routine runs.
    TCustomComPort* const port = port_;
    try {
        // The event thread goes on before any handler runs.
        if (InSentCall())
            ReplySentCall();
        if (port->Connected())
            port->CallEvent(static_cast<std::uint32_t>(wParam));
    } catch (...) {
        HandleApplicationException(port);
    }
}

TComThread::TComThread(TCustomComPort* port, TComEventReceiver* receiver, TOwnerCallQueue& ownerCalls)
    : port_(port), receiver_(receiver), layer_(port->CommLayer()), ownerCalls_(ownerCalls)
{
    ownerCalls_.BeginWorker();
    layer_.CreateEventObject(true, false, stopEvent_);
    layer_.SetCommMask(port_->Handle(), EventsToMask(port_->Events()));
    const std::uint8_t priority = port_->EventThreadPriority();
    thread_ = std::thread([this, priority] {
        threadId_ = std::this_thread::get_id();
        Platform::SetCurrentThreadPriority(priority);
        Execute();
    });
}

TComThread::~TComThread()
{
    Stop();
    ownerCalls_.WaitForFinish();
    thread_.join();
    layer_.CloseHandle(stopEvent_);
}

void TComThread::Stop()
{
    layer_.SetEvent(stopEvent_);
}

bool TComThread::WaitWouldDeadlock() const
{
    return std::this_thread::get_id() == threadId_.load() || ownerCalls_.ServingUnrepliedCall();
}

void TComThread::Execute()
{
    const THandle device = port_->Handle();
    TOverlapped overlapped{};
    layer_.CreateEventObject(true, true, overlapped.hEvent);
    const std::array<THandle, 2> handles = {stopEvent_, overlapped.hEvent};
    // A wait still pending when the loop ends writes its mask when it is
    // completed below: the mask lives as long as the record.
    std::uint32_t mask = 0;
    // A wait that failed (the device went away) ends the loop: waiting again
    // would fail at once, forever. The failure is told once.
    TOsError failure = NoError;
    try {
        for (;;) {
            mask = 0;
            const TOsError started = layer_.WaitCommEvent(device, mask, overlapped);
            if (started != NoError && started != IoPending) {
                failure = started;
                break;
            }
            const TWaitResult wait = layer_.WaitForMultipleObjects(handles, Infinite);
            if (wait.Result == WaitFailed) {
                failure = wait.Error;
                break;
            }
            if (wait.Result != WaitObject0 + 1)
                break;
            std::uint32_t transferred = 0;
            const TOsError result = layer_.GetOverlappedResult(device, overlapped, transferred, false);
            if (result == NoError) {
                currentEvents_ = MaskToEvents(mask);
                DispatchEvents();
            } else if (result != OperationAborted) {
                failure = result;
                break;
            }
            // An aborted wait is a purge or a close at work: the stop
            // request, if any, is seen by the next wait.
        }
    } catch (...) {
        // The thread ends and events stop until the port is reopened, but the
        // error is not lost: the owning thread shows it once. Only its text
        // crosses over; the exception object stays with this thread.
        TCustomComPort* port = port_;
        ownerCalls_.Post([port, message = CurrentExceptionMessage()] { ShowApplicationError(port, message); });
    }
    if (failure != NoError)
        ReportWaitFailure(failure);
    // Clearing the mask completes a wait still pending, so nothing refers to
    // the local record once it is gone. Received bytes nobody read are
    // dropped, but after a failure those received before it stay readable.
    // Output is left alone: what a write handed over still goes out as the
    // port closes, as it does without an event thread.
    layer_.SetCommMask(device, 0);
    if (failure == NoError)
        layer_.PurgeComm(device, PurgeRxClear);
    layer_.CloseHandle(overlapped.hEvent);
    ownerCalls_.MarkFinished();
}

void TComThread::ReportWaitFailure(TOsError error)
{
    TCustomComPort* port = port_;
    ownerCalls_.Post([port, error] {
        try {
            port->ReportError(ecWaitFailed, error);
        } catch (...) {
            HandleApplicationException(port);
        }
    });
}

void TComThread::DispatchEvents()
{
    switch (port_->SyncMethod()) {
    case smThreadSync: {
        TSentCall call([](void* thread, std::uintptr_t) { static_cast<TComThread*>(thread)->RunEvents(); }, this);
        ownerCalls_.Send(call);
        if (call.Error)
            std::rethrow_exception(call.Error);
        break;
    }
    case smWindowSync:
        PostEvents();
        break;
    case smNone:
        RunEvents();
        break;
    }
}

void TComThread::RunEvents()
{
    for (TComEvent event : DispatchOrder) {
        if (currentEvents_.Contains(event))
            port_->CallEvent(EventMask(event));
    }
}

void TComThread::PostEvents()
{
    for (TComEvent event : DispatchOrder) {
        if (!currentEvents_.Contains(event))
            continue;
        TSentCall call(
            [](void* receiver, std::uintptr_t wParam) {
                static_cast<TComEventReceiver*>(receiver)->WindowProc(WM_COMPORTEVENT, wParam);
            },
            receiver_, EventMask(event));
        ownerCalls_.Send(call);
    }
}

// ---- The port's side --------------------------------------------------------

void TCustomComPort::StartEventMonitoring()
{
    if (events_.Empty()) {
        threadCreated_ = false;
        return;
    }
    if (syncMethod_ == smWindowSync)
        messageWindow_ = std::make_unique<TComEventReceiver>(this);
    // The calls are run by the thread that opens the port.
    if (!ownerCalls_ || ownerCalls_->thread() != QThread::currentThread())
        ownerCalls_ = std::make_unique<TOwnerCallQueue>();
    eventThread_ = std::make_unique<TComThread>(this, messageWindow_.get(), *ownerCalls_);
    threadCreated_ = true;
}

void TCustomComPort::StopEventMonitoring()
{
    if (!threadCreated_)
        return;
    eventThread_.reset();
    threadCreated_ = false;
    messageWindow_.reset();
}

void TCustomComPort::CheckNotInEventThread() const
{
    if (threadCreated_ && eventThread_->WaitWouldDeadlock())
        throw Exception(QStringLiteral("Cannot close the port from a handler its event thread is waiting for"));
}
