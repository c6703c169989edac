#pragma once

// The serial port object: its settings, opening and closing the device,
// applying the settings to it, reading, line status, line events and storing
// its settings.

#include "ComErrors.h"
#include "ComEvents.h"
#include "ComLineStatus.h"
#include "ComSettings.h"
#include "ComStore.h"
#include "ComValues.h"
#include "Component.h"
#include "platform/CommLayer.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

class TComThread;
class TComEventReceiver;
class TOwnerCallQueue;
class RegistryKey;
class IniFile;

class TCustomComPort : public QObject, public TComponentState {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(TCustomComPort* sender)>;
    using TRxCharEvent = std::function<void(TCustomComPort* sender, std::int32_t count)>;
    using TRxBufEvent = std::function<void(TCustomComPort* sender, const void* buffer, std::int32_t count)>;
    using TComSignalEvent = std::function<void(TCustomComPort* sender, bool onOff)>;
    using TComErrorEvent = std::function<void(TCustomComPort* sender, TComErrors errors)>;
    using TComExceptionEvent = std::function<void(TCustomComPort* sender, TComErrorCode code, const QString& message,
                                                  std::int64_t osError, const QString& osMessage)>;

    explicit TCustomComPort(QObject* owner = nullptr, Comm::TCommLayer& layer = Comm::DefaultCommLayer());
    ~TCustomComPort() override;

    // Settings persistence (stores the groups chosen by StoredGroups).
    virtual void StoreRegistry(RegistryKey& reg);
    virtual void StoreIniFile(IniFile& ini);
    virtual void LoadRegistry(RegistryKey& reg);
    virtual void LoadIniFile(IniFile& ini);

    void Open();
    void Close();

    bool Connected() const { return connected_; }
    // While a layout is applied only the flag is stored; the after-loading
    // step opens the port. Otherwise true opens and false closes.
    void SetConnected(bool value);
    Comm::THandle Handle() const { return handle_; }
    Comm::TCommLayer& CommLayer() const { return layer_; }

    // Reporting: hands the error to OnException, or raises EComPort.
    void ReportError(std::uint16_t code, std::int64_t osError);

    // Reading and line status.
    void InitAsync(PAsyncRecord& record);
    void DoneAsync(PAsyncRecord& record);
    std::int32_t ReadAsync(void* buffer, std::int32_t count, PAsyncRecord& record);
    std::int32_t WaitForAsync(PAsyncRecord& record);
    std::int32_t Read(void* buffer, std::int32_t count);
    void AbortAllAsync();
    std::int32_t InputCount();
    TComErrors LastErrors();
    TComSignals Signals();

    // Writing. The buffer of WriteAsync stays untouched and alive until
    // WaitForAsync; the text forms keep their own copy in the record, which
    // DoneAsync releases. Write returns the bytes the device took: fewer
    // than asked when the write timeouts passed.
    std::int32_t WriteAsync(const void* buffer, std::int32_t count, PAsyncRecord& record);
    std::int32_t Write(const void* buffer, std::int32_t count);
    std::int32_t WriteStrAsync(std::string_view text, PAsyncRecord& record);
    std::int32_t WriteStr(std::string_view text);
    // Bytes written but not sent yet.
    std::int32_t OutputCount();
    // Output lines and the transmitter. SetXonXoff(false) stops sending as a
    // received Xoff does; true resumes it as an Xon does.
    void SetDTR(bool on);
    void SetRTS(bool on);
    void SetXonXoff(bool on);
    void SetBreak(bool on);
    // Sends one character ahead of the bytes waiting to be written.
    void TransmitChar(char character);
    // Discards what waits in the input queue, the output queue, or both.
    void ClearBuffer(bool input, bool output);

    // Settings.
    TBaudRate BaudRate() const { return baudRate_; }
    std::int32_t CustomBaudRate() const { return customBaudRate_; }
    const QString& Port() const { return port_; }
    TStopBits StopBits() const { return stopBits_; }
    TDataBits DataBits() const { return dataBits_; }
    bool DiscardNull() const { return discardNull_; }
    char EventChar() const { return eventChar_; }
    TComEvents Events() const { return events_; }
    TSyncMethod SyncMethod() const { return syncMethod_; }
    std::uint8_t EventThreadPriority() const { return eventThreadPriority_; }
    bool TriggersOnRxChar() const { return triggersOnRxChar_ && !hasLink_; }
    TStoreGroups StoredGroups() const { return storedGroups_; }

    TComBuffer& Buffer() { return *buffer_; }
    TComParity& Parity() { return *parity_; }
    TComTimeouts& Timeouts() { return *timeouts_; }
    TComFlowControl& FlowControl() { return *flowControl_; }
    const TComBuffer& Buffer() const { return *buffer_; }
    const TComParity& Parity() const { return *parity_; }
    const TComTimeouts& Timeouts() const { return *timeouts_; }
    const TComFlowControl& FlowControl() const { return *flowControl_; }

    void SetBaudRate(TBaudRate value);
    void SetCustomBaudRate(std::int32_t value);
    void SetPortName(const QString& value);
#ifndef _WIN32
    // The setter's name before it had to live beside <winspool.h>, whose
    // macro of that name would rename it; kept for existing Linux callers.
    void SetPort(const QString& value) { SetPortName(value); }
#endif
    void SetStopBits(TStopBits value);
    void SetDataBits(TDataBits value);
    void SetDiscardNull(bool value);
    void SetEventChar(char value);
    // Take effect at the next Open; the event thread reads them unguarded.
    void SetEvents(TComEvents value);
    void SetSyncMethod(TSyncMethod value);
    void SetEventThreadPriority(std::uint8_t value);
    void SetTriggersOnRxChar(bool value);
    void SetStoredGroups(TStoreGroups value) { storedGroups_ = value; }

    // Links. Registration and removal happen on the owning thread while the
    // port is closed; the event thread walks the list unguarded.
    void RegisterLink(TComPortLink* link);
    void UnregisterLink(TComPortLink* link);
    const std::vector<TComPortLink*>& Links() const { return links_; }

    // Handlers.
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty;
    TNotifyEvent OnBreak;
    TNotifyEvent OnRing;
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComSignalEvent OnRLSDChange;
    TComErrorEvent OnError;
    TNotifyEvent OnRxFlag;
    TNotifyEvent OnAfterOpen;
    TNotifyEvent OnAfterClose;
    TNotifyEvent OnBeforeOpen;
    TNotifyEvent OnBeforeClose;
    TNotifyEvent OnRx80Full;
    TComExceptionEvent OnException;

    // Device steps, overridable one by one.
    virtual void OpenHandle();
    virtual void ReleaseHandle();
    virtual void ApplySettings();
    virtual void ApplyControlBlock();
    virtual void ApplyTimeouts();
    virtual void ApplyBufferSizes();

    // The device records the apply steps send, built from the settings.
    Comm::TDCB BuildControlBlock() const;
    Comm::TCommTimeouts BuildTimeouts() const;

    // Port routines run for each line event, and for opening and closing.
    void CallBeforeOpen();
    void CallAfterOpen();
    void CallBeforeClose();
    void CallAfterClose();
    void CallRxChar();
    void CallTxEmpty();
    void CallRxFlag();
    void CallRing();
    void CallBreak();
    void CallCTSChange();
    void CallDSRChange();
    void CallRLSDChange();
    void CallError();
    void CallRx80Full();
    // Runs the port routine of one event mask value; other values run nothing.
    void CallEvent(std::uint32_t eventMask);

    void NotifyLinks(TLinkSignal signal, bool onOff);
    void NotifyLinkEvent(TLinkSignal signal);

protected:
    void Loaded() override;

    // Dispatch steps: each fires its handler when one is assigned.
    virtual void DoAfterClose();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoBeforeOpen();
    virtual void DoRxChar(std::int32_t count);
    virtual void DoRxBuf(const void* buffer, std::int32_t count);
    virtual void DoTxEmpty();
    virtual void DoBreak();
    virtual void DoRing();
    virtual void DoRxFlag();
    virtual void DoCTSChange(bool onOff);
    virtual void DoDSRChange(bool onOff);
    virtual void DoError(TComErrors errors);
    virtual void DoRLSDChange(bool onOff);
    virtual void DoRx80Full();

private:
    bool CanApply() const;
    // Setter rules: compare, store, then re-apply the control block; and
    // store only while closed (the event thread reads those unguarded).
    template <typename T>
    void ChangeControlBlockSetting(T& field, T value);
    template <typename T>
    void ChangeWhileClosed(T& field, T value);
    // Start an overlapped transfer; false when the start failed and was reported.
    bool StartRead(void* buffer, std::int32_t count, PAsyncRecord& record, std::int32_t& read);
    bool StartWrite(const void* buffer, std::int32_t count, PAsyncRecord& record, std::int32_t& written);
    void Escape(std::uint32_t function);
    void CheckSignals(bool open);
    void DeliverRxBuffer(std::int32_t& count);
    // The records Read and Write use, one of each kept between calls; Close
    // releases them.
    PAsyncRecord TakeRecord(TAsyncKind kind);
    void GiveBackRecord(TAsyncKind kind, PAsyncRecord& record);
    void ReleaseSpareRecords();
    void StartEventMonitoring();
    void StopEventMonitoring();
    // Refuses to close from the event thread or from a handler it is waiting
    // for: the close would wait for the thread that runs it.
    void CheckNotInEventThread() const;

    Comm::TCommLayer& layer_;
    // Declared before the thread: the thread's calls go through it.
    std::unique_ptr<TOwnerCallQueue> ownerCalls_;
    std::unique_ptr<TComThread> eventThread_;
    bool threadCreated_ = false;
    Comm::THandle handle_ = Comm::InvalidHandle;
    std::unique_ptr<TComEventReceiver> messageWindow_;
    std::atomic<PAsyncRecord> spareRecords_[2]{nullptr, nullptr};
    std::int32_t updateCount_ = 0;
    std::vector<TComPortLink*> links_;
    bool triggersOnRxChar_ = true;
    std::uint8_t eventThreadPriority_ = 3;
    bool hasLink_ = false;
    bool connected_ = false;
    TBaudRate baudRate_ = br9600;
    std::int32_t customBaudRate_ = 9600;
    QString port_;
    TStopBits stopBits_ = sbOne;
    TDataBits dataBits_ = dbEight;
    bool discardNull_ = false;
    char eventChar_ = 0;
    TComEvents events_ = AllComEvents;
    std::unique_ptr<TComBuffer> buffer_;
    std::unique_ptr<TComParity> parity_;
    std::unique_ptr<TComTimeouts> timeouts_;
    std::unique_ptr<TComFlowControl> flowControl_;
    TSyncMethod syncMethod_ = smThreadSync;
    TStoreGroups storedGroups_{sgBasic};
};

// The name of the first serial port on this platform.
extern const char* const DefaultPortName;
