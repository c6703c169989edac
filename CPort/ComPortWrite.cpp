// Writing and the output lines: overlapped writes described by a record,
// the synchronous Write built from them, the text forms, the output count,
// and driving DTR, RTS, break and the transmitter.

#include "ComPort.h"

#include <cstring>

using namespace Comm;

std::int32_t TCustomComPort::WriteAsync(const void* buffer, std::int32_t count, PAsyncRecord& record)
{
    std::int32_t written = 0;
    StartWrite(buffer, count, record, written);
    return written;
}

bool TCustomComPort::StartWrite(const void* buffer, std::int32_t count, PAsyncRecord& record, std::int32_t& written)
{
    written = 0;
    if (!record) {
        ReportError(ecInvalidAsync, 0);
        return false;
    }
    record->Kind = akWrite;
    if (handle_ == InvalidHandle) {
        ReportError(ecPortNotOpen, 0);
        return false;
    }
    if (count < 0) {
        ReportError(ecWriteFailed, InvalidParameter);
        return false;
    }
    for (TComPortLink* link : links_) {
        if (link->OnTxBuf)
            link->OnTxBuf(this, buffer, count);
    }
    NotifyLinks(lsTxActivity, true);
    std::uint32_t done = 0;
    const TOsError error =
        layer_.WriteFile(handle_, buffer, static_cast<std::uint32_t>(count), done, record->Overlapped);
    if (error != NoError && error != IoPending) {
        ReportError(ecWriteFailed, error);
        return false;
    }
    written = static_cast<std::int32_t>(done);
    return true;
}

std::int32_t TCustomComPort::Write(const void* buffer, std::int32_t count)
{
    PAsyncRecord record = TakeRecord(akWrite);
    if (!record)
        return 0;
    struct GiveBack {
        TCustomComPort* port;
        PAsyncRecord& record;
        ~GiveBack() { port->GiveBackRecord(akWrite, record); }
    } giveBack{this, record};

    std::int32_t written = 0;
    if (!StartWrite(buffer, count, record, written))
        return 0;
    return WaitForAsync(record);
}

std::int32_t TCustomComPort::WriteStrAsync(std::string_view text, PAsyncRecord& record)
{
    if (!record) {
        ReportError(ecInvalidAsync, 0);
        return 0;
    }
    // The caller's text may be gone before the write completes: the record
    // carries the bytes.
    record->Data.reset(new std::uint8_t[text.size()]);
    std::memcpy(record->Data.get(), text.data(), text.size());
    record->DataSize = static_cast<std::int32_t>(text.size());
    return WriteAsync(record->Data.get(), record->DataSize, record);
}

std::int32_t TCustomComPort::WriteStr(std::string_view text)
{
    return Write(text.data(), static_cast<std::int32_t>(text.size()));
}

std::int32_t TCustomComPort::OutputCount()
{
    std::uint32_t errors = 0;
    TComStat stat{};
    if (const TOsError error = layer_.ClearCommError(handle_, errors, stat)) {
        ReportError(ecClearErrorFailed, error);
        return 0;
    }
    return static_cast<std::int32_t>(stat.cbOutQue);
}

void TCustomComPort::Escape(std::uint32_t function)
{
    if (const TOsError error = layer_.EscapeCommFunction(handle_, function))
        ReportError(ecEscapeFailed, error);
}

void TCustomComPort::SetDTR(bool on)
{
    Escape(on ? EscSetDtr : EscClrDtr);
}

void TCustomComPort::SetRTS(bool on)
{
    Escape(on ? EscSetRts : EscClrRts);
}

void TCustomComPort::SetXonXoff(bool on)
{
    Escape(on ? EscSetXon : EscSetXoff);
}

void TCustomComPort::SetBreak(bool on)
{
    Escape(on ? EscSetBreak : EscClrBreak);
}

void TCustomComPort::TransmitChar(char character)
{
    if (const TOsError error = layer_.TransmitCommChar(handle_, character))
        ReportError(ecTransmitFailed, error);
}

void TCustomComPort::ClearBuffer(bool input, bool output)
{
    const std::uint32_t flags = (input ? PurgeRxClear : 0) | (output ? PurgeTxClear : 0);
    if (flags == 0)
        return;
    if (const TOsError error = layer_.PurgeComm(handle_, flags))
        ReportError(ecPurgeFailed, error);
}
