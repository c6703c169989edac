// Reading and line status: overlapped reads described by a record, the wait
// for their completion, the synchronous Read built from the two, and the
// input count, line errors and modem lines of the open device.

#include "ComPort.h"

using namespace Comm;

void TCustomComPort::InitAsync(PAsyncRecord& record)
{
    auto created = std::make_unique<TAsyncRecord>();
    THandle event = InvalidHandle;
    // A record without its event is never handed out: the wait on it could
    // not complete.
    if (const TOsError error = layer_.CreateEventObject(true, true, event)) {
        record = nullptr;
        ReportError(ecInvalidAsync, error);
        return;
    }
    created->Overlapped.hEvent = event;
    record = created.release();
}

void TCustomComPort::DoneAsync(PAsyncRecord& record)
{
    if (!record)
        return;
    layer_.CloseHandle(record->Overlapped.hEvent);
    delete record;
    record = nullptr;
}

std::int32_t TCustomComPort::ReadAsync(void* buffer, std::int32_t count, PAsyncRecord& record)
{
    std::int32_t read = 0;
    StartRead(buffer, count, record, read);
    return read;
}

bool TCustomComPort::StartRead(void* buffer, std::int32_t count, PAsyncRecord& record, std::int32_t& read)
{
    read = 0;
    if (!record) {
        ReportError(ecInvalidAsync, 0);
        return false;
    }
    record->Kind = akRead;
    if (handle_ == InvalidHandle) {
        ReportError(ecPortNotOpen, 0);
        return false;
    }
    // A negative count would read as a request of 4 GiB into the caller's buffer.
    if (count < 0) {
        ReportError(ecReadFailed, InvalidParameter);
        return false;
    }
    std::uint32_t done = 0;
    const TOsError error = layer_.ReadFile(handle_, buffer, static_cast<std::uint32_t>(count), done, record->Overlapped);
    if (error != NoError && error != IoPending) {
        ReportError(ecReadFailed, error);
        return false;
    }
    read = static_cast<std::int32_t>(done);
    return true;
}

std::int32_t TCustomComPort::WaitForAsync(PAsyncRecord& record)
{
    if (!record) {
        ReportError(ecInvalidAsync, 0);
        return 0;
    }
    const THandle event = record->Overlapped.hEvent;
    const TWaitResult wait = layer_.WaitForMultipleObjects(std::span(&event, 1), Infinite);
    std::uint32_t transferred = 0;
    TOsError error = wait.Error;
    if (wait.Result == WaitObject0)
        error = layer_.GetOverlappedResult(handle_, record->Overlapped, transferred, false);
    else if (error == NoError)
        error = IoIncomplete;
    if (error != NoError) {
        const std::uint16_t code = record->Kind == akWrite ? ecWriteFailed : record->Kind == akRead ? ecReadFailed : 0;
        ReportError(code, error);
        return 0;
    }
    if (record->Kind == akRead && !links_.empty()) {
        // The read itself succeeded: a device lost right after it has
        // stopped receiving too, and that is all the links learn here.
        std::uint32_t errors = 0;
        TComStat stat{};
        if (layer_.ClearCommError(handle_, errors, stat) != NoError || stat.cbInQue == 0)
            NotifyLinks(lsRxActivity, false);
    }
    return static_cast<std::int32_t>(transferred);
}

PAsyncRecord TCustomComPort::TakeRecord(TAsyncKind kind)
{
    PAsyncRecord record = spareRecords_[kind].exchange(nullptr);
    if (!record)
        InitAsync(record);
    return record;
}

void TCustomComPort::GiveBackRecord(TAsyncKind kind, PAsyncRecord& record)
{
    // A closed port keeps nothing: Close has already released its records.
    PAsyncRecord empty = nullptr;
    if (record && !record->Data && handle_ != InvalidHandle &&
        spareRecords_[kind].compare_exchange_strong(empty, record))
        record = nullptr;
    else
        DoneAsync(record);
}

void TCustomComPort::ReleaseSpareRecords()
{
    for (std::atomic<PAsyncRecord>& spare : spareRecords_) {
        PAsyncRecord record = spare.exchange(nullptr);
        DoneAsync(record);
    }
}

std::int32_t TCustomComPort::Read(void* buffer, std::int32_t count)
{
    // A port keeps one record and its event for Read; a second reader at the
    // same time makes a record of its own.
    PAsyncRecord record = TakeRecord(akRead);
    if (!record)
        return 0;
    // The record goes back, or is released, on every path.
    struct GiveBack {
        TCustomComPort* port;
        PAsyncRecord& record;
        ~GiveBack() { port->GiveBackRecord(akRead, record); }
    } giveBack{this, record};

    // A start that failed was reported to OnException: there is nothing to wait for.
    std::int32_t read = 0;
    if (!StartRead(buffer, count, record, read))
        return 0;
    return WaitForAsync(record);
}

void TCustomComPort::AbortAllAsync()
{
    if (const TOsError error = layer_.PurgeComm(handle_, PurgeTxAbort | PurgeRxAbort))
        ReportError(ecPurgeFailed, error);
}

std::int32_t TCustomComPort::InputCount()
{
    std::uint32_t errors = 0;
    TComStat stat{};
    if (const TOsError error = layer_.ClearCommError(handle_, errors, stat)) {
        ReportError(ecClearErrorFailed, error);
        return 0;
    }
    return static_cast<std::int32_t>(stat.cbInQue);
}

TComErrors TCustomComPort::LastErrors()
{
    std::uint32_t errors = 0;
    TComStat stat{};
    if (const TOsError error = layer_.ClearCommError(handle_, errors, stat)) {
        ReportError(ecClearErrorFailed, error);
        return {};
    }
    return ErrorsFromErrorWord(errors, parity_->Check());
}

TComSignals TCustomComPort::Signals()
{
    std::uint32_t status = 0;
    if (const TOsError error = layer_.GetCommModemStatus(handle_, status)) {
        ReportError(ecModemStatusFailed, error);
        return {};
    }
    return SignalsFromModemStatus(status);
}
