#include "FakeComm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

using namespace Comm;

// ---- Inspection ----------------------------------------------------------

std::vector<std::string> TFakeCommLayer::Calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

void TFakeCommLayer::ClearCalls()
{
    std::lock_guard lock(mutex_);
    calls_.clear();
    states_.clear();
    timeouts_.clear();
    queueSizes_.clear();
    purges_.clear();
    masks_.clear();
    openedPaths_.clear();
}

std::vector<std::string> TFakeCommLayer::OpenedPaths() const
{
    std::lock_guard lock(mutex_);
    return openedPaths_;
}

std::vector<TDCB> TFakeCommLayer::States() const
{
    std::lock_guard lock(mutex_);
    return states_;
}

std::vector<TCommTimeouts> TFakeCommLayer::TimeoutRecords() const
{
    std::lock_guard lock(mutex_);
    return timeouts_;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> TFakeCommLayer::QueueSizes() const
{
    std::lock_guard lock(mutex_);
    return queueSizes_;
}

std::vector<std::uint32_t> TFakeCommLayer::Purges() const
{
    std::lock_guard lock(mutex_);
    return purges_;
}

std::vector<std::uint32_t> TFakeCommLayer::Masks() const
{
    std::lock_guard lock(mutex_);
    return masks_;
}

std::size_t TFakeCommLayer::OpenDevices() const
{
    std::lock_guard lock(mutex_);
    return deviceOpen_ ? 1 : 0;
}

std::vector<std::string> TFakeCommLayer::Writes() const
{
    std::lock_guard lock(mutex_);
    return writes_;
}

std::vector<std::uint32_t> TFakeCommLayer::Escapes() const
{
    std::lock_guard lock(mutex_);
    return escapes_;
}

std::string TFakeCommLayer::Transmitted() const
{
    std::lock_guard lock(mutex_);
    return transmitted_;
}

void TFakeCommLayer::StallWrites(bool stalled)
{
    std::lock_guard lock(mutex_);
    writesStalled_ = stalled;
}

void TFakeCommLayer::ReleaseWrites()
{
    std::lock_guard lock(mutex_);
    CompleteWrites(NoError);
}

bool TFakeCommLayer::WaitForPendingWrite(int timeoutMs) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !pendingWrites_.empty(); });
}

void TFakeCommLayer::CompleteWrites(TOsError status)
{
    while (!pendingWrites_.empty()) {
        PendingWrite write = std::move(pendingWrites_.front());
        pendingWrites_.pop_front();
        if (status == NoError)
            writes_.push_back(write.bytes);
        write.overlapped->Internal = status;
        write.overlapped->InternalHigh = status == NoError ? write.bytes.size() : 0;
        Signal(write.overlapped->hEvent);
    }
}

std::size_t TFakeCommLayer::OpenEvents() const
{
    std::lock_guard lock(mutex_);
    return events_.size();
}

std::size_t TFakeCommLayer::QueuedBytes() const
{
    std::lock_guard lock(mutex_);
    return rx_.size();
}

bool TFakeCommLayer::WaitForPendingEventWait(int timeoutMs) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return wait_.has_value(); });
}

// ---- Misbehaviour ----------------------------------------------------------

void TFakeCommLayer::Fail(const std::string& call, TOsError error, int times)
{
    std::lock_guard lock(mutex_);
    failures_[call] = {error, times};
}

void TFakeCommLayer::ClearFailures()
{
    std::lock_guard lock(mutex_);
    failures_.clear();
}

void TFakeCommLayer::SetMissing(const std::string& path, bool missing)
{
    std::lock_guard lock(mutex_);
    std::erase(missing_, path);
    if (missing)
        missing_.push_back(path);
}

TOsError TFakeCommLayer::Enter(const char* call)
{
    calls_.emplace_back(call);
    const auto failure = failures_.find(call);
    if (failure == failures_.end() || failure->second.second == 0)
        return NoError;
    if (failure->second.second > 0)
        --failure->second.second;
    return failure->second.first;
}

// ---- The line ----------------------------------------------------------------

void TFakeCommLayer::InjectBytes(const std::string& bytes, bool raiseEvents)
{
    std::lock_guard lock(mutex_);
    std::uint32_t events = EvRxChar;
    for (char c : bytes) {
        if ((dcb_.Flags & dcb_NullDiscard) && c == 0)
            continue;
        rx_.push_back(static_cast<std::uint8_t>(c));
        if (c == dcb_.EvtChar)
            events |= EvRxFlag;
    }
    FeedReads();
    if (raiseEvents)
        Raise(events);
}

void TFakeCommLayer::InjectErrors(std::uint32_t errorWord)
{
    std::lock_guard lock(mutex_);
    errorWord_ |= errorWord;
}

void TFakeCommLayer::SetModemStatus(std::uint32_t status)
{
    std::lock_guard lock(mutex_);
    const std::uint32_t changed = status ^ modemStatus_;
    modemStatus_ = status;
    std::uint32_t events = 0;
    if (changed & MsCtsOn)
        events |= EvCts;
    if (changed & MsDsrOn)
        events |= EvDsr;
    if (changed & MsRlsdOn)
        events |= EvRlsd;
    if ((changed & MsRingOn) && (status & MsRingOn))
        events |= EvRing;
    Raise(events);
}

void TFakeCommLayer::SignalEvents(std::uint32_t mask)
{
    std::lock_guard lock(mutex_);
    Raise(mask);
}

void TFakeCommLayer::LoseDevice(TOsError error)
{
    std::lock_guard lock(mutex_);
    lost_ = error;
    while (!reads_.empty())
        CompleteRead(reads_.front().done > 0 ? NoError : error);
    if (wait_)
        CompleteWait(0, error);
}

void TFakeCommLayer::Raise(std::uint32_t events)
{
    history_ |= events & eventMask_;
    if (wait_ && history_) {
        const std::uint32_t history = history_;
        history_ = 0;
        CompleteWait(history, NoError);
    }
}

void TFakeCommLayer::FeedReads()
{
    while (!reads_.empty() && !rx_.empty()) {
        PendingRead& read = reads_.front();
        while (read.done < read.count && !rx_.empty()) {
            read.buffer[read.done++] = rx_.front();
            rx_.pop_front();
        }
        if (read.done < read.count)
            break;
        CompleteRead(NoError);
    }
}

void TFakeCommLayer::CompleteRead(TOsError status)
{
    const PendingRead read = reads_.front();
    reads_.pop_front();
    read.overlapped->Internal = status;
    read.overlapped->InternalHigh = read.done;
    Signal(read.overlapped->hEvent);
}

void TFakeCommLayer::CompleteWait(std::uint32_t mask, TOsError status)
{
    const PendingWait wait = *wait_;
    wait_.reset();
    *wait.mask = mask;
    wait.overlapped->Internal = status;
    Signal(wait.overlapped->hEvent);
}

void TFakeCommLayer::Signal(THandle handle)
{
    const auto event = events_.find(handle);
    if (event == events_.end())
        return;
    event->second.signalled = true;
    changed_.notify_all();
}

// ---- Devices -----------------------------------------------------------------

TOsError TFakeCommLayer::CreateDevice(const std::string& path, THandle& handle)
{
    std::lock_guard lock(mutex_);
    handle = InvalidHandle;
    openedPaths_.push_back(path);
    if (const TOsError error = Enter("CreateDevice"))
        return error;
    if (std::find(missing_.begin(), missing_.end(), path) != missing_.end())
        return ENOENT;
    if (deviceOpen_)
        return EBUSY;
    deviceOpen_ = true;
    deviceHandle_ = nextHandle_++;
    rx_.clear();
    eventMask_ = history_ = errorWord_ = 0;
    lost_ = NoError;
    handle = deviceHandle_;
    return NoError;
}

TOsError TFakeCommLayer::CloseHandle(THandle handle)
{
    std::lock_guard lock(mutex_);
    if (IsDevice(handle)) {
        calls_.emplace_back("CloseHandle");
        if (const TOsError error = Enter("CloseDevice"))
            return error;
        while (!reads_.empty())
            CompleteRead(OperationAborted);
        if (wait_)
            CompleteWait(0, OperationAborted);
        CompleteWrites(OperationAborted);
        deviceOpen_ = false;
        return NoError;
    }
    if (events_.erase(handle) == 1)
        return NoError;
    return EBADF;
}

TOsError TFakeCommLayer::SetCommState(THandle device, const TDCB& dcb)
{
    std::lock_guard lock(mutex_);
    states_.push_back(dcb);
    if (const TOsError error = Enter("SetCommState"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    dcb_ = dcb;
    return NoError;
}

TOsError TFakeCommLayer::SetCommTimeouts(THandle device, const TCommTimeouts& timeouts)
{
    std::lock_guard lock(mutex_);
    timeouts_.push_back(timeouts);
    if (const TOsError error = Enter("SetCommTimeouts"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    commTimeouts_ = timeouts;
    return NoError;
}

TOsError TFakeCommLayer::SetupComm(THandle device, std::uint32_t inQueue, std::uint32_t outQueue)
{
    std::lock_guard lock(mutex_);
    queueSizes_.emplace_back(inQueue, outQueue);
    if (const TOsError error = Enter("SetupComm"))
        return error;
    return IsDevice(device) ? NoError : EBADF;
}

TOsError TFakeCommLayer::PurgeComm(THandle device, std::uint32_t flags)
{
    std::lock_guard lock(mutex_);
    purges_.push_back(flags);
    if (const TOsError error = Enter("PurgeComm"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    if (flags & PurgeTxAbort)
        CompleteWrites(OperationAborted);
    if (flags & PurgeRxAbort) {
        while (!reads_.empty())
            CompleteRead(OperationAborted);
        if (wait_)
            CompleteWait(0, OperationAborted);
    }
    if (flags & PurgeRxClear)
        rx_.clear();
    return NoError;
}

TOsError TFakeCommLayer::ReadFile(THandle device, void* buffer, std::uint32_t count, std::uint32_t& read,
                                  TOverlapped& overlapped)
{
    std::lock_guard lock(mutex_);
    read = 0;
    if (const TOsError error = Enter("ReadFile"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    if (const auto event = events_.find(overlapped.hEvent); event != events_.end())
        event->second.signalled = false;
    PendingRead request{&overlapped, static_cast<std::uint8_t*>(buffer), count, 0};
    while (reads_.empty() && request.done < count && !rx_.empty()) {
        request.buffer[request.done++] = rx_.front();
        rx_.pop_front();
    }
    if (lost_ != NoError && request.done == 0)
        return lost_;
    const bool returnAtOnce = commTimeouts_.ReadIntervalTimeout == MaxDword &&
                              commTimeouts_.ReadTotalTimeoutMultiplier == 0 &&
                              commTimeouts_.ReadTotalTimeoutConstant == 0;
    if (request.done == count || returnAtOnce || lost_ != NoError) {
        overlapped.Internal = NoError;
        overlapped.InternalHigh = request.done;
        read = request.done;
        Signal(overlapped.hEvent);
        return NoError;
    }
    overlapped.Internal = IoPending;
    reads_.push_back(request);
    return IoPending;
}

TOsError TFakeCommLayer::GetOverlappedResult(THandle device, TOverlapped& overlapped, std::uint32_t& transferred,
                                             bool wait)
{
    if (wait) {
        const THandle event = overlapped.hEvent;
        WaitForMultipleObjects(std::span(&event, 1), Infinite);
    }
    std::lock_guard lock(mutex_);
    transferred = 0;
    if (const TOsError error = Enter("GetOverlappedResult"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    if (overlapped.Internal == IoPending)
        return IoIncomplete;
    transferred = static_cast<std::uint32_t>(overlapped.InternalHigh);
    return static_cast<TOsError>(overlapped.Internal);
}

TOsError TFakeCommLayer::WriteFile(THandle device, const void* buffer, std::uint32_t count, std::uint32_t& written,
                                   TOverlapped& overlapped)
{
    std::lock_guard lock(mutex_);
    written = 0;
    if (const TOsError error = Enter("WriteFile"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    if (lost_ != NoError)
        return lost_;
    if (const auto event = events_.find(overlapped.hEvent); event != events_.end())
        event->second.signalled = false;
    std::string bytes(static_cast<const char*>(buffer), count);
    if (writesStalled_) {
        overlapped.Internal = IoPending;
        pendingWrites_.push_back(PendingWrite{&overlapped, std::move(bytes)});
        changed_.notify_all();
        return IoPending;
    }
    writes_.push_back(std::move(bytes));
    overlapped.Internal = NoError;
    overlapped.InternalHigh = count;
    written = count;
    Signal(overlapped.hEvent);
    return NoError;
}

TOsError TFakeCommLayer::EscapeCommFunction(THandle device, std::uint32_t function)
{
    std::lock_guard lock(mutex_);
    if (const TOsError error = Enter("EscapeCommFunction"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    escapes_.push_back(function);
    return NoError;
}

TOsError TFakeCommLayer::TransmitCommChar(THandle device, char character)
{
    std::lock_guard lock(mutex_);
    if (const TOsError error = Enter("TransmitCommChar"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    transmitted_ += character;
    return NoError;
}

TOsError TFakeCommLayer::ClearCommError(THandle device, std::uint32_t& errors, TComStat& stat)
{
    std::lock_guard lock(mutex_);
    errors = 0;
    stat = TComStat{};
    if (const TOsError error = Enter("ClearCommError"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    if (lost_ != NoError && rx_.empty())
        return lost_;
    errors = errorWord_;
    errorWord_ = 0;
    stat.cbInQue = static_cast<std::uint32_t>(rx_.size());
    for (const PendingWrite& write : pendingWrites_)
        stat.cbOutQue += static_cast<std::uint32_t>(write.bytes.size());
    return NoError;
}

TOsError TFakeCommLayer::GetCommModemStatus(THandle device, std::uint32_t& status)
{
    std::lock_guard lock(mutex_);
    status = 0;
    if (const TOsError error = Enter("GetCommModemStatus"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    status = modemStatus_;
    return NoError;
}

TOsError TFakeCommLayer::SetCommMask(THandle device, std::uint32_t mask)
{
    std::lock_guard lock(mutex_);
    masks_.push_back(mask);
    if (const TOsError error = Enter("SetCommMask"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    eventMask_ = mask;
    history_ = 0;
    if (wait_)
        CompleteWait(0, NoError);
    return NoError;
}

TOsError TFakeCommLayer::WaitCommEvent(THandle device, std::uint32_t& mask, TOverlapped& overlapped)
{
    std::lock_guard lock(mutex_);
    mask = 0;
    if (const TOsError error = Enter("WaitCommEvent"))
        return error;
    if (!IsDevice(device))
        return EBADF;
    if (wait_)
        return EINVAL;
    if (const auto event = events_.find(overlapped.hEvent); event != events_.end())
        event->second.signalled = false;
    if (lost_ != NoError && history_ == 0)
        return lost_;
    wait_ = PendingWait{&overlapped, &mask};
    overlapped.Internal = IoPending;
    changed_.notify_all();
    if (history_) {
        const std::uint32_t history = history_;
        history_ = 0;
        CompleteWait(history, NoError);
        return NoError;
    }
    return IoPending;
}

// ---- Event objects -------------------------------------------------------------

TOsError TFakeCommLayer::CreateEventObject(bool manualReset, bool initialState, THandle& event)
{
    std::lock_guard lock(mutex_);
    if (const TOsError error = Enter("CreateEventObject")) {
        event = InvalidHandle;
        return error;
    }
    event = nextHandle_++;
    events_[event] = Event{manualReset, initialState};
    return NoError;
}

TOsError TFakeCommLayer::SetEvent(THandle event)
{
    std::lock_guard lock(mutex_);
    if (!events_.count(event))
        return EBADF;
    Signal(event);
    return NoError;
}

TOsError TFakeCommLayer::ResetEvent(THandle event)
{
    std::lock_guard lock(mutex_);
    const auto found = events_.find(event);
    if (found == events_.end())
        return EBADF;
    found->second.signalled = false;
    return NoError;
}

TWaitResult TFakeCommLayer::WaitForMultipleObjects(std::span<const THandle> handles, std::uint32_t timeoutMs)
{
    std::unique_lock lock(mutex_);
    if (const TOsError error = Enter("WaitForMultipleObjects"))
        return {WaitFailed, error};
    std::optional<std::uint32_t> signalled;
    bool missing = false;
    auto ready = [&] {
        for (std::size_t i = 0; i < handles.size(); ++i) {
            const auto event = events_.find(handles[i]);
            if (event == events_.end()) {
                missing = true;
                return true;
            }
            if (event->second.signalled) {
                signalled = static_cast<std::uint32_t>(i);
                if (!event->second.manualReset)
                    event->second.signalled = false;
                return true;
            }
        }
        return false;
    };
    if (timeoutMs == Infinite)
        changed_.wait(lock, ready);
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (missing)
        return {WaitFailed, EBADF};
    if (!signalled)
        return {WaitTimeout, NoError};
    return {WaitObject0 + *signalled, NoError};
}

std::string TFakeCommLayer::ErrorText(TOsError error) const
{
    char buffer[256];
    return ::strerror_r(static_cast<int>(error), buffer, sizeof buffer);
}
