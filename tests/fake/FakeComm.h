#pragma once

// An in-memory device for the component's tests. It records every call and
// record it receives, can be told to fail a named call with a given error
// code, and lets a test inject received bytes, line errors, modem-line states
// and line events from any thread.

#include "platform/CommLayer.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TFakeCommLayer final : public Comm::TCommLayer {
public:
    TFakeCommLayer() = default;
    ~TFakeCommLayer() override = default;

    // ---- what the component asked for ----
    std::vector<std::string> Calls() const;
    void ClearCalls();
    std::vector<std::string> OpenedPaths() const;
    std::vector<Comm::TDCB> States() const;
    std::vector<Comm::TCommTimeouts> TimeoutRecords() const;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> QueueSizes() const;
    std::vector<std::uint32_t> Purges() const;
    std::vector<std::uint32_t> Masks() const;
    std::size_t OpenDevices() const;
    // The bytes of every write the device took, in order, one entry a write.
    std::vector<std::string> Writes() const;
    std::vector<std::uint32_t> Escapes() const;
    std::string Transmitted() const;
    std::size_t OpenEvents() const;

    // ---- misbehaving on cue ----
    // The named call (e.g. "SetCommState") fails with error, the next `times`
    // calls or all of them.
    void Fail(const std::string& call, Comm::TOsError error, int times = -1);
    void ClearFailures();
    // A device path that does not exist (CreateDevice fails with ENOENT), or
    // exists again.
    void SetMissing(const std::string& path, bool missing = true);

    // ---- the line ----
    // While stalled, writes stay pending (their bytes counted as queued for
    // output) until released, aborted or the device is closed.
    void StallWrites(bool stalled);
    // Completes the pending writes with all their bytes taken.
    void ReleaseWrites();
    // Blocks until a write is pending (at most timeoutMs).
    bool WaitForPendingWrite(int timeoutMs) const;

    // Bytes received; with raiseEvents false they arrive without line events
    // (for tests that raise the events of a batch themselves).
    void InjectBytes(const std::string& bytes, bool raiseEvents = true);
    // Error bits reported (and cleared) by the next ClearCommError.
    void InjectErrors(std::uint32_t errorWord);
    void SetModemStatus(std::uint32_t status);
    // Raises the events of the mask (those in the device's event mask).
    void SignalEvents(std::uint32_t mask);
    // The device goes away with the given error, as a pulled adapter does:
    // the pending wait fails with it, and so do reads and ClearCommError once
    // the queued bytes are consumed, and every later wait. Opening again
    // brings it back.
    void LoseDevice(Comm::TOsError error);
    std::size_t QueuedBytes() const;
    // Blocks until a WaitCommEvent is pending (at most timeoutMs).
    bool WaitForPendingEventWait(int timeoutMs) const;

    // ---- the layer ----
    Comm::TOsError CreateDevice(const std::string& path, Comm::THandle& handle) override;
    Comm::TOsError CloseHandle(Comm::THandle handle) override;
    Comm::TOsError SetCommState(Comm::THandle device, const Comm::TDCB& dcb) override;
    Comm::TOsError SetCommTimeouts(Comm::THandle device, const Comm::TCommTimeouts& timeouts) override;
    Comm::TOsError SetupComm(Comm::THandle device, std::uint32_t inQueue, std::uint32_t outQueue) override;
    Comm::TOsError PurgeComm(Comm::THandle device, std::uint32_t flags) override;
    Comm::TOsError ReadFile(Comm::THandle device, void* buffer, std::uint32_t count, std::uint32_t& read,
                            Comm::TOverlapped& overlapped) override;
    Comm::TOsError GetOverlappedResult(Comm::THandle device, Comm::TOverlapped& overlapped,
                                       std::uint32_t& transferred, bool wait) override;
    Comm::TOsError WriteFile(Comm::THandle device, const void* buffer, std::uint32_t count, std::uint32_t& written,
                             Comm::TOverlapped& overlapped) override;
    Comm::TOsError EscapeCommFunction(Comm::THandle device, std::uint32_t function) override;
    Comm::TOsError TransmitCommChar(Comm::THandle device, char character) override;
    Comm::TOsError ClearCommError(Comm::THandle device, std::uint32_t& errors, Comm::TComStat& stat) override;
    Comm::TOsError GetCommModemStatus(Comm::THandle device, std::uint32_t& status) override;
    Comm::TOsError SetCommMask(Comm::THandle device, std::uint32_t mask) override;
    Comm::TOsError WaitCommEvent(Comm::THandle device, std::uint32_t& mask, Comm::TOverlapped& overlapped) override;
    Comm::TOsError CreateEventObject(bool manualReset, bool initialState, Comm::THandle& event) override;
    Comm::TOsError SetEvent(Comm::THandle event) override;
    Comm::TOsError ResetEvent(Comm::THandle event) override;
    Comm::TWaitResult WaitForMultipleObjects(std::span<const Comm::THandle> events, std::uint32_t timeoutMs) override;
    std::string ErrorText(Comm::TOsError error) const override;

private:
    struct PendingRead {
        Comm::TOverlapped* overlapped;
        std::uint8_t* buffer;
        std::uint32_t count;
        std::uint32_t done;
    };
    struct PendingWait {
        Comm::TOverlapped* overlapped;
        std::uint32_t* mask;
    };
    struct PendingWrite {
        Comm::TOverlapped* overlapped;
        std::string bytes;
    };
    struct Event {
        bool manualReset;
        bool signalled;
    };

    // Records the call and returns the error it is told to fail with, if any.
    Comm::TOsError Enter(const char* call);
    bool IsDevice(Comm::THandle handle) const { return handle == deviceHandle_ && deviceOpen_; }
    void Signal(Comm::THandle event);
    void Raise(std::uint32_t events);
    void FeedReads();
    void CompleteRead(Comm::TOsError status);
    void CompleteWait(std::uint32_t mask, Comm::TOsError status);
    void CompleteWrites(Comm::TOsError status);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> calls_;
    std::vector<std::string> openedPaths_;
    std::vector<Comm::TDCB> states_;
    std::vector<Comm::TCommTimeouts> timeouts_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> queueSizes_;
    std::vector<std::uint32_t> purges_;
    std::vector<std::uint32_t> masks_;
    std::map<std::string, std::pair<Comm::TOsError, int>> failures_;
    std::vector<std::string> missing_;

    // One device at a time, as a serial port is opened exclusively.
    bool deviceOpen_ = false;
    Comm::THandle deviceHandle_ = Comm::InvalidHandle;
    Comm::TDCB dcb_{};
    Comm::TCommTimeouts commTimeouts_{};
    std::deque<std::uint8_t> rx_;
    std::uint32_t errorWord_ = 0;
    std::uint32_t modemStatus_ = 0;
    std::uint32_t eventMask_ = 0;
    std::uint32_t history_ = 0;
    Comm::TOsError lost_ = Comm::NoError;
    std::deque<PendingRead> reads_;
    std::vector<std::string> writes_;
    std::vector<std::uint32_t> escapes_;
    std::string transmitted_;
    bool writesStalled_ = false;
    std::deque<PendingWrite> pendingWrites_;
    std::optional<PendingWait> wait_;
    std::map<Comm::THandle, Event> events_;
    Comm::THandle nextHandle_ = 100;
};
