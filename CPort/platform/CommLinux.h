#pragma once

// The Linux backend of the communications layer: tty devices through termios
// and ioctl, event objects on eventfd, waits on poll.
//
// Overlapped operations have no thread of their own. A thread that waits on
// the event of a pending read or event wait also watches that operation's
// device, reads what arrived into the receive queue (or straight into the
// pending read's buffer) and completes the operation in place. So a byte
// reaches the waiting thread with no hand-off, and an idle port wakes nobody.
//
// Each device and each event object has a lock of its own; a device's lock
// is taken before an event's, never the other way round. The table of
// handles has its own lock, held only to look a handle up.

#include "CommLayer.h"
#include "HandleTable.h"
#include "InterruptibleWait.h"
#include "RxQueue.h"
#include "UniqueFd.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace Comm {

class TLinuxCommLayer final : public TCommLayer {
public:
    TLinuxCommLayer() = default;
    ~TLinuxCommLayer() override;

    TOsError CreateFile(const std::string& path, THandle& handle) override;
    TOsError CloseHandle(THandle handle) override;
    TOsError SetCommState(THandle device, const TDCB& dcb) override;
    TOsError SetCommTimeouts(THandle device, const TCommTimeouts& timeouts) override;
    TOsError SetupComm(THandle device, std::uint32_t inQueue, std::uint32_t outQueue) override;
    TOsError PurgeComm(THandle device, std::uint32_t flags) override;
    TOsError ReadFile(THandle device, void* buffer, std::uint32_t count, std::uint32_t& read,
                      TOverlapped& overlapped) override;
    TOsError GetOverlappedResult(THandle device, TOverlapped& overlapped, std::uint32_t& transferred,
                                 bool wait) override;
    TOsError WriteFile(THandle device, const void* buffer, std::uint32_t count, std::uint32_t& written,
                       TOverlapped& overlapped) override;
    TOsError EscapeCommFunction(THandle device, std::uint32_t function) override;
    TOsError TransmitCommChar(THandle device, char character) override;
    TOsError ClearCommError(THandle device, std::uint32_t& errors, TComStat& stat) override;
    TOsError GetCommModemStatus(THandle device, std::uint32_t& status) override;
    TOsError SetCommMask(THandle device, std::uint32_t mask) override;
    TOsError WaitCommEvent(THandle device, std::uint32_t& mask, TOverlapped& overlapped) override;
    TOsError CreateEvent(bool manualReset, bool initialState, THandle& event) override;
    TOsError SetEvent(THandle event) override;
    TOsError ResetEvent(THandle event) override;
    TWaitResult WaitForMultipleObjects(std::span<const THandle> events, std::uint32_t timeoutMs) override;
    std::string ErrorText(TOsError error) const override;

    // The device path of a port name: the name itself when it is a path,
    // else the name under /dev.
    static std::string DevicePath(const std::string& portName);

private:
    using Clock = std::chrono::steady_clock;
    struct Device;

    // The state lives in the flag, under the event's lock; the eventfd only
    // wakes threads that sleep in poll.
    struct Event {
        std::mutex mutex;
        UniqueFd fd;
        bool manualReset = true;
        bool signalled = false;
        // Threads asleep in poll on this event, and whether the eventfd has
        // been written for them: a thread that signals an event nobody
        // sleeps on spends no system call on it.
        int sleepers = 0;
        bool fdArmed = false;
        // The device whose pending operation will signal this event: a
        // thread waiting on the event watches that device.
        std::weak_ptr<Device> boundTo;
    };

    struct PendingRead {
        TOverlapped* overlapped = nullptr;
        std::shared_ptr<Event> event;
        std::uint8_t* buffer = nullptr;
        std::uint32_t count = 0;
        std::uint32_t done = 0;
        std::optional<Clock::time_point> totalDeadline;
        std::optional<Clock::duration> interval;
        std::optional<Clock::time_point> lastByte;
        bool completesAtFirstByte = false;
    };

    struct PendingWrite {
        TOverlapped* overlapped = nullptr;
        std::shared_ptr<Event> event;
        const std::uint8_t* data = nullptr;
        std::uint32_t count = 0;
        std::uint32_t done = 0;
        std::optional<Clock::time_point> deadline;
    };

    struct PendingWait {
        TOverlapped* overlapped;
        std::uint32_t* mask;
        std::shared_ptr<Event> event;
    };

    struct LineCounters {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    };

    struct Device {
        std::mutex mutex;
        THandle handle = INVALID_HANDLE_VALUE;
        UniqueFd fd;
        RxQueue rx;
        TDCB dcb{};
        TCommTimeouts timeouts{};
        std::uint32_t eventMask = 0;
        std::uint32_t eventHistory = 0;
        std::uint32_t errorWord = 0;
        bool hasCounters = false;
        LineCounters counters;
        bool above80 = false;
        // Set once the device went away (EIO, or end of file on a line that
        // reads EAGAIN when empty): it is no longer watched.
        TOsError lost = NoError;
        // False once a read found the driver's queue empty, true again when
        // poll reports the device readable. While an event mask is set a
        // thread will poll the device again, so the driver is read only when
        // it has something; without one every look reads it.
        bool readable = true;
        // A waiter leaves a device with a full queue out of its poll (the
        // kernel keeps the bytes); once the queue has room again this eventfd
        // wakes it to watch the device again.
        UniqueFd roomAgain;
        bool watchPaused = false;
        bool roomAgainArmed = false;
        // Modem input lines: poll cannot watch them, so while an event mask
        // asks for them a thread of their own waits in TIOCMIWAIT.
        bool hasModemLines = false;
        int modemLines = 0;
        std::unique_ptr<TInterruptibleWait> modemWatch;
        std::deque<PendingRead> reads;
        std::optional<PendingWait> wait;
        // Writes the driver has not taken whole yet, in order; the device is
        // watched for room while there are any.
        std::deque<PendingWrite> writes;
        // Bytes went to the driver since its output queue was last seen
        // empty: the next empty queue raises EV_TXEMPTY.
        bool txSinceEmpty = false;
        // While the driver still transmits after the last write, a thread of
        // its own waits in tcdrain; it ends once the queue is empty.
        std::unique_ptr<TInterruptibleWait> drainWatch;
        bool drainRunning = false;
    };

    std::shared_ptr<Device> FindDevice(THandle handle) const;
    std::shared_ptr<Event> FindEvent(THandle handle) const;
    std::uint64_t NewSerial() { return nextSerial_.fetch_add(1, std::memory_order_relaxed); }

    static void Signal(Event& event);
    static void Unsignal(Event& event);
    // The event of an operation started on device, bound to it until the
    // operation completes.
    std::shared_ptr<Event> BindEvent(THandle handle, const std::shared_ptr<Device>& device) const;

    // Reads what the device has into the receive queue, raises the line
    // events it means and completes the operations that are now due.
    void Pump(Device& device, Clock::time_point now);
    // Reads the driver's queue when it may hold bytes; straight into target's
    // buffer while the receive queue is empty.
    static void ReadDevice(Device& device, Clock::time_point now, PendingRead* target);
    static void ReadLineCounters(Device& device);
    static void RaiseEvents(Device& device, std::uint32_t events);
    static void FeedReads(Device& device, Clock::time_point now);
    static void CompleteDueReads(Device& device, Clock::time_point now);
    static void CompleteRead(Device& device, std::size_t index, TOsError status);
    // After the receive queue was emptied or grew: wakes a waiter that
    // stopped watching the device while it was full.
    static void ResumeWatch(Device& device);
    static void CompleteWait(Device& device, std::uint32_t mask, TOsError status);
    // Writes how an operation ended into its record and frees its event from
    // the device; the event is signalled unless the operation failed to start.
    static void FinishOperation(TOverlapped& overlapped, Event* event, TOsError status, std::uint32_t done,
                                bool signal);
    // Hands pending writes to the driver as far as it takes them and
    // completes those done or due.
    void PumpWrites(Device& device, Clock::time_point now);
    // Writes what the driver takes of one write; the error when it failed.
    static TOsError WriteDevice(Device& device, PendingWrite& write);
    static void CompleteWrite(Device& device, std::size_t index, TOsError status);
    // Once no write is pending: raises EV_TXEMPTY when the driver's queue is
    // empty, or starts the wait for it to drain.
    void WatchOutputDrain(Device& device);
    // The drain wait's report; false ends its thread.
    bool OutputDrained(THandle handle);
    // The bytes of pending writes the driver has not taken, and what its own
    // output queue holds.
    static std::uint32_t OutputCount(Device& device);
    static std::optional<Clock::time_point> NextDeadline(const Device& device);
    void ModemLinesChanged(THandle handle);
    // Starts the modem-line watch when the mask asks for it; returns a watch
    // to stop, which the caller destroys after releasing the device's lock
    // (its thread takes that lock to report).
    std::unique_ptr<TInterruptibleWait> UpdateModemWatch(Device& device);

    THandleTable<Device> devices_;
    THandleTable<Event> events_;
    // Serial numbers of handles: never reused, so a stale handle can never
    // reach another object.
    std::atomic<std::uint64_t> nextSerial_{1};
};

} // namespace Comm
