#include "ComPort.h"

#include "ApplicationException.h"
#include "ComThread.h"
#include "OwnerCallQueue.h"
#include "platform/PortEnum.h"

#include <cstdio>
#include <cstdlib>

using namespace Comm;

const char* const DefaultPortName = Platform::DefaultPortName;

TCustomComPort::TCustomComPort(QObject* owner, TCommLayer& layer)
    : QObject(owner), layer_(layer), port_(QString::fromLatin1(DefaultPortName))
{
    parity_ = std::make_unique<TComParity>();
    parity_->SetComPort(this);
    flowControl_ = std::make_unique<TComFlowControl>();
    flowControl_->SetComPort(this);
    timeouts_ = std::make_unique<TComTimeouts>();
    timeouts_->SetComPort(this);
    buffer_ = std::make_unique<TComBuffer>();
    buffer_->SetComPort(this);
}

TCustomComPort::~TCustomComPort()
{
    // A destructor cannot raise: a failure while closing goes to the
    // application's display, and the device is released regardless.
    try {
        Close();
    } catch (...) {
        HandleApplicationException(this);
        // A port destroyed from a handler its own event thread waits for can
        // neither stop that thread nor outlive it: stopping would wait
        // forever, and the thread would go on using the freed port.
        if (threadCreated_ && eventThread_->WaitWouldDeadlock()) {
            std::fputs("TCustomComPort destroyed from a handler of its own event thread\n", stderr);
            std::abort();
        }
        StopEventMonitoring();
        if (handle_ != InvalidHandle)
            layer_.CloseHandle(handle_);
    }
    ReleaseSpareRecords();
    buffer_.reset();
    flowControl_.reset();
    timeouts_.reset();
    parity_.reset();
}

// ---- Opening and closing ----------------------------------------------------

void TCustomComPort::Open()
{
    if (connected_ || IsDesigning())
        return;
    CallBeforeOpen();
    OpenHandle();
    // With OnException set a failed open returns here; nothing may be applied
    // to, or waited on, a device that is not open.
    if (handle_ == InvalidHandle)
        return;
    connected_ = true;
    try {
        ApplySettings();
    } catch (...) {
        ReleaseHandle();
        connected_ = false;
        throw;
    }
    StartEventMonitoring();
    CallAfterOpen();
}

void TCustomComPort::Close()
{
    if (!connected_ || IsDesigning())
        return;
    CheckNotInEventThread();
    CallBeforeClose();
    AbortAllAsync();
    // The event thread is stopped before the handle is closed: it may still
    // be waiting on it.
    StopEventMonitoring();
    ReleaseSpareRecords();
    ReleaseHandle();
    connected_ = false;
    CallAfterClose();
}

void TCustomComPort::SetConnected(bool value)
{
    if (IsLoading()) {
        connected_ = value;
        return;
    }
    if (value)
        Open();
    else
        Close();
}

void TCustomComPort::Loaded()
{
    TComponentState::Loaded();
    if (connected_ && !IsDesigning()) {
        connected_ = false;
        try {
            Open();
        } catch (...) {
            HandleApplicationException(this);
        }
    }
}

void TCustomComPort::OpenHandle()
{
    THandle handle = InvalidHandle;
    const TOsError error = layer_.CreateDevice(port_.toStdString(), handle);
    handle_ = error == NoError ? handle : InvalidHandle;
    if (handle_ == InvalidHandle)
        ReportError(ecOpenFailed, error);
}

void TCustomComPort::ReleaseHandle()
{
    if (handle_ == InvalidHandle)
        return;
    if (layer_.CloseHandle(handle_) == NoError)
        handle_ = InvalidHandle;
}

// ---- Applying the settings -------------------------------------------------

bool TCustomComPort::CanApply() const
{
    return connected_ && updateCount_ == 0 && !IsDesigning() && !IsLoading();
}

void TCustomComPort::ApplySettings()
{
    ApplyBufferSizes();
    ApplyControlBlock();
    ApplyTimeouts();
}

TDCB TCustomComPort::BuildControlBlock() const
{
    TDCB dcb{};
    dcb.DCBlength = sizeof(TDCB);
    dcb.BaudRate = baudRate_ == brCustom ? static_cast<std::uint32_t>(customBaudRate_) : BaudRateDeviceValues[baudRate_];

    const bool errorChar = parity_->Check() && parity_->Replace();
    dcb.Flags = dcb_Binary;
    if (parity_->Check())
        dcb.Flags |= dcb_Parity;
    if (flowControl_->OutCTSFlow())
        dcb.Flags |= dcb_OutxCtsFlow;
    if (flowControl_->OutDSRFlow())
        dcb.Flags |= dcb_OutxDsrFlow;
    dcb.Flags |= DTRControlFlagBits[flowControl_->ControlDTR()];
    if (flowControl_->DSRSensitivity())
        dcb.Flags |= dcb_DsrSensivity;
    if (flowControl_->TxContinueOnXoff())
        dcb.Flags |= dcb_TXContinueOnXoff;
    if (flowControl_->XonXoffOut())
        dcb.Flags |= dcb_OutX;
    if (flowControl_->XonXoffIn())
        dcb.Flags |= dcb_InX;
    if (errorChar)
        dcb.Flags |= dcb_ErrorChar;
    if (discardNull_)
        dcb.Flags |= dcb_NullDiscard;
    dcb.Flags |= RTSControlFlagBits[flowControl_->ControlRTS()];

    const auto limit = static_cast<std::uint16_t>(buffer_->InputSize() / 4);
    dcb.XonLim = limit;
    dcb.XoffLim = limit;
    dcb.ByteSize = DataBitsDeviceValues[dataBits_];
    dcb.Parity = parity_->Bits();
    dcb.StopBits = stopBits_;
    dcb.XonChar = flowControl_->XonChar();
    dcb.XoffChar = flowControl_->XoffChar();
    dcb.ErrorChar = errorChar ? parity_->ReplaceChar() : 0;
    dcb.EofChar = 0;
    dcb.EvtChar = eventChar_;
    return dcb;
}

TCommTimeouts TCustomComPort::BuildTimeouts() const
{
    // -1 is MaxDword; every other value keeps its bits.
    auto dword = [](std::int32_t value) { return static_cast<std::uint32_t>(value); };
    return TCommTimeouts{dword(timeouts_->ReadInterval()), dword(timeouts_->ReadTotalMultiplier()),
                         dword(timeouts_->ReadTotalConstant()), dword(timeouts_->WriteTotalMultiplier()),
                         dword(timeouts_->WriteTotalConstant())};
}

void TCustomComPort::ApplyControlBlock()
{
    if (!CanApply())
        return;
    if (const TOsError error = layer_.SetCommState(handle_, BuildControlBlock()))
        ReportError(ecSetStateFailed, error);
}

void TCustomComPort::ApplyTimeouts()
{
    if (!CanApply())
        return;
    if (const TOsError error = layer_.SetCommTimeouts(handle_, BuildTimeouts()))
        ReportError(ecTimeoutsFailed, error);
}

void TCustomComPort::ApplyBufferSizes()
{
    if (!CanApply())
        return;
    const auto in = static_cast<std::uint32_t>(buffer_->InputSize());
    const auto out = static_cast<std::uint32_t>(buffer_->OutputSize());
    if (const TOsError error = layer_.SetupComm(handle_, in, out))
        ReportError(ecSetupFailed, error);
}

// ---- Reporting -------------------------------------------------------------

void TCustomComPort::ReportError(std::uint16_t code, std::int64_t osError)
{
    if (OnException) {
        QString osText;
        if (osError > 0) {
            const auto lastError = static_cast<std::uint32_t>(osError);
            if (lastError == 0)
                osText = QStringLiteral("A call to an OS function failed");
            else
                osText = QStringLiteral("System Error.  Code: %1.\r\n%2")
                             .arg(static_cast<std::int32_t>(lastError))
                             .arg(QString::fromStdString(layer_.ErrorText(lastError)));
        }
        OnException(this, static_cast<TComErrorCode>(code), PortErrorMessage(code), osError, osText);
        return;
    }
    if (osError > 0)
        throw EComPort(code, static_cast<std::int32_t>(static_cast<std::uint32_t>(osError)));
    throw EComPort(code);
}

// ---- Setters ---------------------------------------------------------------

template <typename T>
void TCustomComPort::ChangeControlBlockSetting(T& field, T value)
{
    if (field == value)
        return;
    field = value;
    ApplyControlBlock();
}

template <typename T>
void TCustomComPort::ChangeWhileClosed(T& field, T value)
{
    if (connected_)
        ReportError(ecSetWhileConnected, 0);
    else
        field = value;
}

void TCustomComPort::SetBaudRate(TBaudRate value)
{
    ChangeControlBlockSetting(baudRate_, value);
}

void TCustomComPort::SetCustomBaudRate(std::int32_t value)
{
    ChangeControlBlockSetting(customBaudRate_, value);
}

void TCustomComPort::SetPortName(const QString& value)
{
    if (port_ == value)
        return;
    port_ = value;
    if (connected_ && !IsDesigning() && !IsLoading()) {
        Close();
        Open();
    }
}

void TCustomComPort::SetStopBits(TStopBits value)
{
    ChangeControlBlockSetting(stopBits_, value);
}

void TCustomComPort::SetDataBits(TDataBits value)
{
    ChangeControlBlockSetting(dataBits_, value);
}

void TCustomComPort::SetDiscardNull(bool value)
{
    ChangeControlBlockSetting(discardNull_, value);
}

void TCustomComPort::SetEventChar(char value)
{
    ChangeControlBlockSetting(eventChar_, value);
}

void TCustomComPort::SetEvents(TComEvents value)
{
    ChangeWhileClosed(events_, value);
}

void TCustomComPort::SetSyncMethod(TSyncMethod value)
{
    ChangeWhileClosed(syncMethod_, value);
}

void TCustomComPort::SetEventThreadPriority(std::uint8_t value)
{
    ChangeWhileClosed(eventThreadPriority_, value);
}

void TCustomComPort::SetTriggersOnRxChar(bool value)
{
    ChangeWhileClosed(triggersOnRxChar_, value);
}

// ---- Links -----------------------------------------------------------------

void TCustomComPort::RegisterLink(TComPortLink* link)
{
    if (!link || connected_)
        ReportError(ecLinkFailed, 0);
    else
        links_.push_back(link);
}

void TCustomComPort::UnregisterLink(TComPortLink* link)
{
    const auto found = std::find(links_.begin(), links_.end(), link);
    if (found == links_.end() || connected_)
        ReportError(ecLinkFailed, 0);
    else
        links_.erase(found);
}
