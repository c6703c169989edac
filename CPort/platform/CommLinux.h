#pragma once

// The Linux backend of the communications layer: tty devices through termios
// and ioctl, event objects that wake their sleepers through each sleeper's own
// eventfd, waits on poll.
//
// A thread that waits on the event of a pending read or event wait also
// watches that operation's device: it reads what arrived into the receive
// queue (or straight into the pending read's buffer) and completes the
// operation in place, so a byte reaches the waiting thread with no hand-off
// and an idle port wakes nobody. Whoever changes what a watcher must watch (a
// new operation, a new deadline, room in the queue) wakes it. The device's
// service thread runs while reads or writes are pending and drives them
// whenever nobody watches (a watcher may leave at any moment: a handler
// runs, its thread ends), as a driver would. A pending event wait alone does
// not start it, because its outcome follows from the device's state, which
// every call that could observe the wait brings up to date first.
//
// Each device and each event object has a lock of its own; a device's lock
// is taken before an event's, never the other way round. The table of
// handles has its own lock, held only to look a handle up.

#include "CommLayer.h"
#include "HandleTable.h"
#include "InterruptibleWait.h"
#include "RxQueue.h"
#include "UniqueFd.h"
#include "Wakeup.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace Comm {

class TLinuxCommLayer final : public TCommLayer {
public:
    TLinuxCommLayer() = default;
    ~TLinuxCommLayer() override;

    TOsError CreateDevice(const std::string& path, THandle& handle) override;
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
    TOsError CreateEventObject(bool manualReset, bool initialState, THandle& event) override;
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

    // The state lives in the flag, under the event's lock.
    struct Event {
        std::mutex mutex;
        bool manualReset = true;
        bool signalled = false;
        // Threads asleep on this event; signalling it wakes each of them.
        std::vector<TWakeup*> sleepers;
        // The device whose pending operation will signal this event: a
        // thread waiting on the event watches that device. The count of
        // bindings tells a waiter that the binding changed while it looked.
        std::weak_ptr<Device> boundTo;
        std::uint64_t bindings = 0;
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
    // How often the driver saw each modem input line change.
    struct ModemCounts {
        int cts = 0, dsr = 0, dcd = 0, rng = 0;
    };

    struct Device {
        std::mutex mutex;
        THandle handle = InvalidHandle;
        UniqueFd fd;
        // Set when CloseHandle begins: no operation starts after it.
        bool closed = false;
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
        // a watcher's poll reports the device readable. A watcher trusts it
        // (its poll will report what comes next); any other look trusts it
        // only once, just after the read that found the queue empty.
        bool readable = true;
        std::optional<Clock::time_point> foundEmptyAt;
        // Threads whose poll watches this device; a close waits until they
        // have left, as poll holds the open file.
        std::vector<TWakeup*> watchers;
        std::condition_variable watchersLeft;
        // A full receive queue is left out of the watch (the kernel keeps the
        // bytes); once it has room again the watchers are woken.
        bool watchPaused = false;
        // The thread that drives reads and writes nobody watches. It runs
        // while any is pending and steps back while a watcher drives them;
        // it ends when the device closes or its poll fails.
        std::thread service;
        bool serviceRunning = false;
        std::unique_ptr<TWakeup> serviceWakeup;
        bool serviceWatching = false;
        // Modem input lines: poll cannot watch them, so while an event mask
        // asks for them a thread of their own waits in TIOCMIWAIT.
        bool hasModemLines = false;
        int modemLines = 0;
        ModemCounts modemCounts;
        std::unique_ptr<TInterruptibleWait> modemWatch;
        std::deque<PendingRead> reads;
        std::optional<PendingWait> wait;
        // Writes the driver has not taken whole yet, in order; the device is
        // watched for room while there are any.
        std::deque<PendingWrite> writes;
        // Bytes went to the driver since the transmitter was last seen
        // empty: the next time it is, EvTxEmpty is raised.
        bool txSinceEmpty = false;
        // While the transmitter still sends after the last write, a thread of
        // its own waits in tcdrain. Each wait has a number, so that the
        // report of one that was replaced changes nothing.
        std::unique_ptr<TInterruptibleWait> drainWatch;
        bool drainRunning = false;
        std::uint64_t drainNumber = 0;
        // Raising a break waits in the driver for its output to leave; the
        // wait runs on a thread of its own so that the caller never waits.
        std::unique_ptr<TInterruptibleWait> breakWatch;
    };

    // The threads a device may run, taken out under its lock and stopped
    // after it is released: each takes the lock to report.
    struct DeviceThreads {
        DeviceThreads() = default;
        DeviceThreads(DeviceThreads&&) = default;
        ~DeviceThreads();
        std::unique_ptr<TInterruptibleWait> modem, drain, brk;
        std::thread service;
    };
    struct Waiting;

    std::shared_ptr<Device> FindDevice(THandle handle) const;
    std::shared_ptr<Event> FindEvent(THandle handle) const;
    std::uint64_t NewSerial() { return nextSerial_.fetch_add(1, std::memory_order_relaxed); }

    // A device found open, with its lock held; the lock is released before
    // the reference goes.
    struct LockedDevice {
        std::shared_ptr<Device> device;
        std::unique_lock<std::mutex> lock;
        explicit operator bool() const { return device != nullptr; }
        Device* operator->() const { return device.get(); }
        Device& operator*() const { return *device; }
    };
    LockedDevice OpenDevice(THandle handle) const;

    static void Signal(Event& event);
    static void Unsignal(Event& event);
    // The event of an operation started on device, bound to it until the
    // operation completes; a thread already waiting on it is woken to watch
    // the device.
    std::shared_ptr<Event> BindEvent(THandle handle, const std::shared_ptr<Device>& device) const;

    // Something a watcher of the device must know changed: wakes them all.
    static void WakeWatchers(Device& device);
    // An operation went pending: the watchers look again, and the service
    // thread is there to take over once they leave.
    void OperationStarted(const std::shared_ptr<Device>& device);
    // Starts or wakes the service thread while reads or writes are pending.
    void DriveUnwatched(const std::shared_ptr<Device>& device);
    void LeaveWatch(const std::shared_ptr<Device>& device, TWakeup& watcher);
    // What a watcher polls the device for: nothing once it is closed or lost.
    static short WatchFor(Device& device);
    void ServeDevice(const std::shared_ptr<Device>& device);
    // Everything a device runs, stopped; the device is closed and no watcher
    // is left in poll on it when this returns.
    void EndDevice(Device& device);
    static DeviceThreads TakeThreads(Device& device);
    // Whether a look at the device should read the driver: a watcher knows
    // from its poll; anyone else trusts, once, a look that just found the
    // driver empty.
    static bool MayHoldBytes(Device& device, Clock::time_point now, bool watcher);

    // Reads what the device has into the receive queue, raises the line
    // events it means and completes the operations that are now due. A
    // watcher pumps knowing its poll reports new bytes.
    void Pump(Device& device, Clock::time_point now, bool watcher = false);
    // Reads the driver's queue; straight into target's buffer while the
    // receive queue is empty.
    static void ReadDevice(Device& device, Clock::time_point now, PendingRead* target);
    // One read of the driver into target and the receive queue; the events
    // it raises. False when the driver had no more.
    static bool ReadOnce(Device& device, Clock::time_point now, PendingRead*& target, std::uint32_t& events);
    static std::uint32_t QueueEvents(Device& device, std::size_t added);
    // Queued bytes for a read: those behind the pending reads that come first.
    void ReadFromQueue(Device& device, PendingRead& request, Clock::time_point now);
    static TOsError StartRead(Device& device, PendingRead& request, Clock::time_point now);
    // Adds the errors the driver counted since the last look to the error
    // word; the line events they raise.
    static std::uint32_t ReadLineCounters(Device& device);
    static void RaiseEvents(Device& device, std::uint32_t events);
    static void FeedReads(Device& device, Clock::time_point now);
    static void CompleteDueReads(Device& device, Clock::time_point now);
    static void CompleteRead(Device& device, std::size_t index, TOsError status);
    // After the receive queue was emptied or grew: wakes the watchers that
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
    // Once no write is pending: raises EvTxEmpty when the driver's queue is
    // empty, or starts the wait for it to drain.
    void WatchOutputDrain(Device& device);
    // The drain wait's report; false ends its thread.
    bool OutputDrained(THandle handle, std::uint64_t number, bool failed);
    // Whether the last character has left: the driver's queue is empty and,
    // where the driver tells, so is the transmitter.
    static bool TransmitterEmpty(int fd);
    // Lets what the driver accepted leave before the device closes, unless
    // the line holds it back: then it is discarded.
    static void DrainBeforeClose(int fd);
    // The bytes of pending writes the driver has not taken, and what its own
    // output queue holds.
    static std::uint32_t OutputCount(Device& device);
    static TOsError RaiseBreak(Device& device);
    static std::optional<Clock::time_point> NextDeadline(const Device& device);
    void ModemLinesChanged(THandle handle);
    // The modem watch's wait: at once when the driver counted a change since
    // the lines were last read, else in TIOCMIWAIT.
    int WaitForModemChange(THandle handle);
    // Reads the driver's change counts; whether they moved since last read.
    static bool ReadModemCounts(Device& device);
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
