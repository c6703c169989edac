// The Linux backend: opening and configuring devices, reading, line events
// and the pump that brings what a device has to its pending operations.
#include "CommLinux.h"

#include "CommLinuxSupport.h"
#include "TermiosMapping.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace Comm {

namespace {

const unsigned long GetTermios2 = _IOR('T', 0x2A, TTermios2);
const unsigned long SetTermios2 = _IOW('T', 0x2B, TTermios2);

// A queue of more than this is refused, as a driver refuses an absurd size.
constexpr std::uint32_t MaxQueueSize = 64u << 20;

// What an open takes of the terminal beyond its descriptor: the flock and
// exclusive mode. TIOCEXCL keeps other users out; flock also keeps out a
// second open by root, whom TIOCEXCL lets through. Exclusive mode belongs to
// the terminal, not to the descriptor, and outlives it while another
// descriptor is open (a modem line's watcher, a test's far end): an open
// that fails after taking it gives it back, or the port would read as
// someone else's at its next open.
class TerminalClaim {
public:
    explicit TerminalClaim(int fd) : fd_(fd) {}
    ~TerminalClaim()
    {
        if (exclusive_)
            ::ioctl(fd_, TIOCNXCL);
        if (locked_)
            ::flock(fd_, LOCK_UN);
    }
    TerminalClaim(const TerminalClaim&) = delete;
    TerminalClaim& operator=(const TerminalClaim&) = delete;

    // A port that is someone else's is left exactly as it was: exclusive
    // mode is set only once the lock is ours.
    TOsError Take()
    {
        int exclusive = 0;
        if (::ioctl(fd_, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
            return EBUSY;
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
            return errno == EWOULDBLOCK ? EBUSY : LastError();
        locked_ = true;
        if (::ioctl(fd_, TIOCEXCL) != 0)
            return LastError();
        exclusive_ = true;
        return NoError;
    }
    // The open succeeded: the device keeps the claim until it closes.
    void Keep() { locked_ = exclusive_ = false; }

private:
    int fd_;
    bool locked_ = false;
    bool exclusive_ = false;
};

} // namespace

TLinuxCommLayer& LinuxCommLayer()
{
    static TLinuxCommLayer layer;
    return layer;
}

TCommLayer& DefaultCommLayer()
{
    return LinuxCommLayer();
}

TLinuxCommLayer::~TLinuxCommLayer()
{
    // The threads of ports never closed report through the table: they end
    // before anything is torn down.
    for (const auto& device : devices_.All()) {
        std::unique_lock lock(device->mutex);
        device->closed = true;
        const DeviceThreads threads = TakeThreads(*device);
        lock.unlock();
    }
}

std::string TLinuxCommLayer::DevicePath(const std::string& portName)
{
    if (!portName.empty() && portName.front() == '/')
        return portName;
    return "/dev/" + portName;
}

std::string TLinuxCommLayer::ErrorText(TOsError error) const
{
    char buffer[256];
    // The GNU variant returns the text, in the buffer or in static storage.
    return ::strerror_r(static_cast<int>(error), buffer, sizeof buffer);
}

std::shared_ptr<TLinuxCommLayer::Device> TLinuxCommLayer::FindDevice(THandle handle) const
{
    return devices_.Find(handle);
}

std::shared_ptr<TLinuxCommLayer::Event> TLinuxCommLayer::FindEvent(THandle handle) const
{
    return events_.Find(handle);
}

TLinuxCommLayer::LockedDevice TLinuxCommLayer::OpenDevice(THandle handle) const
{
    LockedDevice open{FindDevice(handle), {}};
    if (!open.device)
        return {};
    open.lock = std::unique_lock(open.device->mutex);
    if (open.device->closed)
        return {};
    return open;
}

// ---- Devices ----------------------------------------------------------------

TOsError TLinuxCommLayer::CreateDevice(const std::string& path, THandle& handle)
{
    handle = InvalidHandle;
    // Declared before the claim on its terminal, the device outlives it: a
    // failed open undoes the claim while the descriptor is still open.
    auto device = std::make_shared<Device>();
    device->fd = UniqueFd(::open(DevicePath(path).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!device->fd.Valid())
        return LastError();
    if (!::isatty(device->fd.Get()))
        return ENOTTY;
    TerminalClaim claim(device->fd.Get());
    if (const TOsError error = claim.Take())
        return error;

    device->serviceWakeup = std::make_unique<TWakeup>();
    if (!device->serviceWakeup->Valid())
        return LastError();
    serial_icounter_struct counts{};
    device->hasCounters = ::ioctl(device->fd.Get(), TIOCGICOUNT, &counts) == 0;
    device->counters = {counts.frame, counts.overrun, counts.parity, counts.brk, counts.buf_overrun};
    // A driver without modem lines (pseudo-terminals, many virtual ports)
    // refuses the request itself; any other failure is the line's own.
    if (::ioctl(device->fd.Get(), TIOCMGET, &device->modemLines) == 0)
        device->hasModemLines = true;
    else
        device->hasModemLines = errno != ENOTTY && errno != EINVAL;

    // The handle is known before the device is in the table: its watches
    // report through it. The lock is released before a device the table
    // refused goes.
    std::lock_guard lock(device->mutex);
    handle = devices_.Add(device, NewSerial());
    if (handle == InvalidHandle)
        return ENFILE;
    device->handle = handle;
    claim.Keep();
    return NoError;
}

TOsError TLinuxCommLayer::CloseHandle(THandle handle)
{
    if (events_.Remove(handle))
        return NoError;
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    {
        std::lock_guard lock(device->mutex);
        // From here on no operation starts, and none is left pending.
        if (device->closed)
            return EBADF;
        device->closed = true;
        while (!device->reads.empty())
            CompleteRead(*device, 0, OperationAborted);
        while (!device->writes.empty())
            CompleteWrite(*device, 0, OperationAborted);
        if (device->wait)
            CompleteWait(*device, 0, OperationAborted);
    }
    EndDevice(*device);
    // Only now does the handle stop naming the device: a GetOverlappedResult
    // that no longer finds it reads a record completed before.
    devices_.Remove(handle);
    return NoError;
}

TOsError TLinuxCommLayer::SetCommState(THandle handle, const TDCB& dcb)
{
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    TTermios2 tio{};
    if (::ioctl(device->fd.Get(), GetTermios2, &tio) != 0)
        return LastError();
    TLineControl lines;
    if (const TOsError error = DcbToTermios(dcb, tio, lines))
        return error;
    if (::ioctl(device->fd.Get(), SetTermios2, &tio) != 0)
        return LastError();
    // New settings turn the UART's modem-status interrupt off where the
    // driver enables it only for a waiter (the 8250 on a line without
    // hardware flow control): the line watch waits anew, which turns it on.
    if (device->modemWatch)
        device->modemWatch->Interrupt();
    // Devices without modem lines (pseudo-terminals) refuse these; the line
    // state is then simply not there to set.
    const int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    if (lines.SetDTR)
        ::ioctl(device->fd.Get(), TIOCMBIS, &dtr);
    if (lines.ClearDTR)
        ::ioctl(device->fd.Get(), TIOCMBIC, &dtr);
    if (lines.SetRTS)
        ::ioctl(device->fd.Get(), TIOCMBIS, &rts);
    if (lines.ClearRTS)
        ::ioctl(device->fd.Get(), TIOCMBIC, &rts);
    device->dcb = dcb;
    return NoError;
}

TOsError TLinuxCommLayer::SetCommTimeouts(THandle handle, const TCommTimeouts& timeouts)
{
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    device->timeouts = timeouts;
    return NoError;
}

TOsError TLinuxCommLayer::SetupComm(THandle handle, std::uint32_t inQueue, std::uint32_t outQueue)
{
    if (inQueue > MaxQueueSize || outQueue > MaxQueueSize)
        return EINVAL;
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    // The transmit queue is the kernel's own; only the receive queue is ours.
    if (inQueue != 0)
        device->rx.SetCapacity(inQueue);
    device->above80 = device->rx.Above80();
    ResumeWatch(*device);
    return NoError;
}

TOsError TLinuxCommLayer::PurgeComm(THandle handle, std::uint32_t flags)
{
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    if (flags & PurgeTxAbort) {
        while (!device->writes.empty())
            CompleteWrite(*device, 0, OperationAborted);
    }
    if (flags & PurgeRxAbort) {
        while (!device->reads.empty())
            CompleteRead(*device, 0, OperationAborted);
        if (device->wait)
            CompleteWait(*device, 0, OperationAborted);
    }
    if (flags & PurgeRxClear) {
        ::tcflush(device->fd.Get(), TCIFLUSH);
        device->rx.Clear();
        device->above80 = false;
        ResumeWatch(*device);
    }
    if (flags & PurgeTxClear) {
        ::tcflush(device->fd.Get(), TCOFLUSH);
        // A pseudo-terminal's flush wakes no poll for the room it made:
        // whoever drives the pending writes looks again.
        if (!device->writes.empty())
            WakeWatchers(*device);
    }
    return NoError;
}

// ---- Reading ----------------------------------------------------------------

std::shared_ptr<TLinuxCommLayer::Event> TLinuxCommLayer::BindEvent(THandle handle,
                                                                   const std::shared_ptr<Device>& device) const
{
    std::shared_ptr<Event> event = FindEvent(handle);
    if (event) {
        std::lock_guard lock(event->mutex);
        Unsignal(*event);
        event->boundTo = device;
        ++event->bindings;
        // A thread already waiting on the event must now watch the device.
        for (TWakeup* sleeper : event->sleepers)
            sleeper->Wake();
    }
    return event;
}

TOsError TLinuxCommLayer::ReadFile(THandle handle, void* buffer, std::uint32_t count, std::uint32_t& read,
                                   TOverlapped& overlapped)
{
    read = 0;
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    PendingRead request;
    request.overlapped = &overlapped;
    request.buffer = static_cast<std::uint8_t*>(buffer);
    request.count = count;
    request.event = BindEvent(overlapped.hEvent, device.device);

    const Clock::time_point now = Clock::now();
    ReadFromQueue(*device, request, now);
    const TOsError status = StartRead(*device, request, now);
    if (status == IoPending) {
        overlapped.Internal = IoPending;
        overlapped.InternalHigh = request.done;
        device->reads.push_back(std::move(request));
        OperationStarted(device.device);
        return IoPending;
    }
    read = request.done;
    FinishOperation(overlapped, request.event.get(), status, request.done, status == NoError);
    return status;
}

void TLinuxCommLayer::ReadFromQueue(Device& device, PendingRead& request, Clock::time_point now)
{
    // Reads already pending take what arrived first; this one gets what is
    // left beyond them, if they are all served.
    if (!device.reads.empty())
        Pump(device, now);
    if (!device.reads.empty())
        return;
    // The queue first; what it did not hold comes straight from the driver
    // into the caller's buffer, in the one read a look makes.
    request.done = static_cast<std::uint32_t>(device.rx.Pop(request.buffer, request.count));
    if (request.done < request.count && MayHoldBytes(device, now, false))
        ReadDevice(device, now, &request);
    device.above80 = device.rx.Above80();
    ResumeWatch(device);
}

TOsError TLinuxCommLayer::StartRead(Device& device, PendingRead& request, Clock::time_point now)
{
    // Bytes received before a loss are still delivered; after them, the loss.
    if (device.lost != NoError && request.done == 0)
        return device.lost;
    const TCommTimeouts& t = device.timeouts;
    const bool returnAtOnce = t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                              t.ReadTotalTimeoutConstant == 0;
    const bool firstByte = t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == MaxDword &&
                           t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MaxDword;
    if (request.done == request.count || returnAtOnce || (firstByte && request.done > 0) || device.lost != NoError)
        return NoError;

    using std::chrono::milliseconds;
    if (firstByte) {
        request.completesAtFirstByte = true;
        request.totalDeadline = now + milliseconds(t.ReadTotalTimeoutConstant);
        return IoPending;
    }
    const std::uint64_t total =
        std::uint64_t{t.ReadTotalTimeoutMultiplier} * request.count + std::uint64_t{t.ReadTotalTimeoutConstant};
    if (total > 0)
        request.totalDeadline = SaturatedDeadline(now, total);
    if (t.ReadIntervalTimeout != 0)
        request.interval = milliseconds(t.ReadIntervalTimeout);
    if (request.done > 0)
        request.lastByte = now;
    return IoPending;
}

TOsError TLinuxCommLayer::GetOverlappedResult(THandle handle, TOverlapped& overlapped, std::uint32_t& transferred,
                                              bool wait)
{
    transferred = 0;
    if (wait) {
        const THandle event = overlapped.hEvent;
        const TWaitResult result = WaitForMultipleObjects(std::span(&event, 1), Infinite);
        if (result.Result == WaitFailed)
            return result.Error;
    }
    const std::shared_ptr<Device> device = FindDevice(handle);
    // A device leaves the table only after its close completed every
    // operation: the record of a device no longer there is final.
    if (!device) {
        if (overlapped.Internal == IoPending)
            return EBADF;
        transferred = static_cast<std::uint32_t>(overlapped.InternalHigh);
        return static_cast<TOsError>(overlapped.Internal);
    }
    // The record is written by whichever thread completes the operation,
    // under the device's lock.
    std::lock_guard lock(device->mutex);
    if (overlapped.Internal == IoPending && !device->closed)
        Pump(*device, Clock::now());
    if (overlapped.Internal == IoPending)
        return IoIncomplete;
    transferred = static_cast<std::uint32_t>(overlapped.InternalHigh);
    return static_cast<TOsError>(overlapped.Internal);
}

TOsError TLinuxCommLayer::ClearCommError(THandle handle, std::uint32_t& errors, TComStat& stat)
{
    errors = 0;
    stat = TComStat{};
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    Pump(*device, Clock::now());
    if (device->lost != NoError && device->rx.Size() == 0)
        return device->lost;
    RaiseEvents(*device, ReadLineCounters(*device));
    errors = device->errorWord;
    device->errorWord = 0;
    // The pump has emptied the driver's queue into ours unless ours is full.
    int driverIn = 0;
    if (device->rx.Room() == 0 && ::ioctl(device->fd.Get(), FIONREAD, &driverIn) != 0)
        driverIn = 0;
    stat.cbInQue = static_cast<std::uint32_t>(device->rx.Size()) + static_cast<std::uint32_t>(driverIn);
    stat.cbOutQue = OutputCount(*device);
    return NoError;
}

// ---- Line events ----------------------------------------------------------

TOsError TLinuxCommLayer::SetCommMask(THandle handle, std::uint32_t mask)
{
    // A stopped watch is destroyed after the lock is released: its thread
    // takes the lock to report.
    std::unique_ptr<TInterruptibleWait> stopped, drain;
    {
        const LockedDevice device = OpenDevice(handle);
        if (!device)
            return EBADF;
        device->eventMask = mask;
        device->eventHistory = 0;
        // Whether the driver holds bytes was only tracked while a mask was set.
        device->readable = true;
        if (device->wait)
            CompleteWait(*device, 0, NoError);
        stopped = UpdateModemWatch(*device);
        if (!(mask & EvTxEmpty)) {
            drain = std::move(device->drainWatch);
            device->drainRunning = false;
            ++device->drainNumber;
        }
    }
    return NoError;
}

TOsError TLinuxCommLayer::WaitCommEvent(THandle handle, std::uint32_t& mask, TOverlapped& overlapped)
{
    mask = 0;
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    if (device->wait)
        return EINVAL;
    // Bytes the driver got since it was last read need no read here: the
    // wait is settled by whoever looks at it next (a waiter, its result),
    // and that look reads them.
    Pump(*device, Clock::now(), true);
    // Events raised before a loss are still reported; after them, the loss.
    if (device->lost != NoError && device->eventHistory == 0)
        return device->lost;
    // Bound only once the wait is sure to start: a wait on the event of a
    // wait that never started must not watch the device.
    device->wait = PendingWait{&overlapped, &mask, BindEvent(overlapped.hEvent, device.device)};
    overlapped.Internal = IoPending;
    overlapped.InternalHigh = 0;
    if (device->eventHistory != 0) {
        const std::uint32_t events = device->eventHistory;
        device->eventHistory = 0;
        CompleteWait(*device, events, NoError);
    }
    return device->wait ? IoPending : NoError;
}

} // namespace Comm
