// The port routines run for each line event and for opening and closing, the
// link notifications, and the dispatch steps that fire the handlers.

#include "ComPort.h"

#include <memory>

using namespace Comm;

// ---- Opening and closing ---------------------------------------------------

void TCustomComPort::CallBeforeOpen()
{
    DoBeforeOpen();
}

void TCustomComPort::CallAfterOpen()
{
    NotifyLinks(lsConnection, true);
    DoAfterOpen();
    CheckSignals(true);
}

void TCustomComPort::CallBeforeClose()
{
    CheckSignals(false);
    DoBeforeClose();
}

void TCustomComPort::CallAfterClose()
{
    NotifyLinks(lsConnection, false);
    DoAfterClose();
}

void TCustomComPort::CheckSignals(bool open)
{
    if (open) {
        CallCTSChange();
        CallDSRChange();
        CallRLSDChange();
        return;
    }
    // Closing reports the lines off without asking the device.
    NotifyLinks(lsCTS, false);
    NotifyLinks(lsDSR, false);
    NotifyLinks(lsRLSD, false);
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
}

// ---- Line events -----------------------------------------------------------

void TCustomComPort::CallRxChar()
{
    std::int32_t count = InputCount();
    if (count > 0)
        NotifyLinks(lsRxActivity, true);
    if (count > 0)
        DeliverRxBuffer(count);
    if (count > 0)
        DoRxChar(count);
}

void TCustomComPort::DeliverRxBuffer(std::int32_t& count)
{
    std::unique_ptr<std::uint8_t[]> buffer;
    // The buffer is released and the bytes count as consumed on every path,
    // so OnRxChar never announces bytes that were already read.
    struct Consumed {
        std::unique_ptr<std::uint8_t[]>& buffer;
        std::int32_t& count;
        ~Consumed()
        {
            if (buffer) {
                buffer.reset();
                count = 0;
            }
        }
    } consumed{buffer, count};

    // Consumers get exactly the bytes the read returned: the count announced
    // may have been read by someone else meanwhile, and a failed read reported
    // to OnException returns none.
    std::int32_t received = 0;
    auto readOnce = [&] {
        if (buffer)
            return;
        buffer.reset(new std::uint8_t[static_cast<std::size_t>(count)]);
        received = Read(buffer.get(), count);
        if (received > 0)
            DoRxBuf(buffer.get(), received);
    };
    for (TComPortLink* link : links_) {
        if (link->OnRxBuf) {
            readOnce();
            if (received > 0)
                link->OnRxBuf(this, buffer.get(), received);
        }
    }
    if (!buffer && !TriggersOnRxChar())
        readOnce();
}

void TCustomComPort::CallTxEmpty()
{
    NotifyLinks(lsTxActivity, false);
    NotifyLinkEvent(lsTxEmpty);
    DoTxEmpty();
}

void TCustomComPort::CallRxFlag()
{
    NotifyLinkEvent(lsRxFlag);
    DoRxFlag();
}

void TCustomComPort::CallRing()
{
    NotifyLinkEvent(lsRing);
    DoRing();
}

void TCustomComPort::CallBreak()
{
    DoBreak();
}

void TCustomComPort::CallCTSChange()
{
    const bool onOff = Signals().Contains(csCTS);
    NotifyLinks(lsCTS, onOff);
    DoCTSChange(onOff);
}

void TCustomComPort::CallDSRChange()
{
    const bool onOff = Signals().Contains(csDSR);
    NotifyLinks(lsDSR, onOff);
    DoDSRChange(onOff);
}

void TCustomComPort::CallRLSDChange()
{
    const bool onOff = Signals().Contains(csRLSD);
    NotifyLinks(lsRLSD, onOff);
    DoRLSDChange(onOff);
}

void TCustomComPort::CallError()
{
    const TComErrors errors = LastErrors();
    if (!errors.Empty())
        DoError(errors);
}

void TCustomComPort::CallRx80Full()
{
    DoRx80Full();
}

void TCustomComPort::CallEvent(std::uint32_t eventMask)
{
    switch (eventMask) {
    case EvRxChar: CallRxChar(); break;
    case EvRxFlag: CallRxFlag(); break;
    case EvTxEmpty: CallTxEmpty(); break;
    case EvCts: CallCTSChange(); break;
    case EvDsr: CallDSRChange(); break;
    case EvRlsd: CallRLSDChange(); break;
    case EvBreak: CallBreak(); break;
    case EvErr: CallError(); break;
    case EvRing: CallRing(); break;
    case EvRx80Full: CallRx80Full(); break;
    default: break;
    }
}

// ---- Links -----------------------------------------------------------------

void TCustomComPort::NotifyLinks(TLinkSignal signal, bool onOff)
{
    for (TComPortLink* link : links_) {
        TComPortLink::TSignalSlot* slot = nullptr;
        switch (signal) {
        case lsConnection: slot = &link->OnConnection; break;
        case lsCTS: slot = &link->OnCTSChange; break;
        case lsDSR: slot = &link->OnDSRChange; break;
        case lsRLSD: slot = &link->OnRLSDChange; break;
        case lsRxActivity: slot = &link->OnRxActivity; break;
        case lsTxActivity: slot = &link->OnTxActivity; break;
        default: break;
        }
        if (slot && *slot)
            (*slot)(this, onOff);
    }
}

void TCustomComPort::NotifyLinkEvent(TLinkSignal signal)
{
    for (TComPortLink* link : links_) {
        TComPortLink::TEventSlot* slot = nullptr;
        switch (signal) {
        case lsRing: slot = &link->OnRing; break;
        case lsTxEmpty: slot = &link->OnTxEmpty; break;
        case lsRxFlag: slot = &link->OnRxFlag; break;
        default: break;
        }
        if (slot && *slot)
            (*slot)(this);
    }
}

// ---- Dispatch steps --------------------------------------------------------

void TCustomComPort::DoAfterClose() { if (OnAfterClose) OnAfterClose(this); }
void TCustomComPort::DoAfterOpen() { if (OnAfterOpen) OnAfterOpen(this); }
void TCustomComPort::DoBeforeClose() { if (OnBeforeClose) OnBeforeClose(this); }
void TCustomComPort::DoBeforeOpen() { if (OnBeforeOpen) OnBeforeOpen(this); }
void TCustomComPort::DoRxChar(std::int32_t count) { if (OnRxChar) OnRxChar(this, count); }
void TCustomComPort::DoRxBuf(const void* buffer, std::int32_t count) { if (OnRxBuf) OnRxBuf(this, buffer, count); }
void TCustomComPort::DoTxEmpty() { if (OnTxEmpty) OnTxEmpty(this); }
void TCustomComPort::DoBreak() { if (OnBreak) OnBreak(this); }
void TCustomComPort::DoRing() { if (OnRing) OnRing(this); }
void TCustomComPort::DoRxFlag() { if (OnRxFlag) OnRxFlag(this); }
void TCustomComPort::DoCTSChange(bool onOff) { if (OnCTSChange) OnCTSChange(this, onOff); }
void TCustomComPort::DoDSRChange(bool onOff) { if (OnDSRChange) OnDSRChange(this, onOff); }
void TCustomComPort::DoError(TComErrors errors) { if (OnError) OnError(this, errors); }
void TCustomComPort::DoRLSDChange(bool onOff) { if (OnRLSDChange) OnRLSDChange(this, onOff); }
void TCustomComPort::DoRx80Full() { if (OnRx80Full) OnRx80Full(this); }
