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
#include <sys/eventfd.h>
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
    // Modem watches report through the table: they end before anything is
    // torn down.
    std::vector<std::unique_ptr<TInterruptibleWait>> watches;
    for (const auto& device : devices_.All()) {
        std::lock_guard lock(device->mutex);
        watches.push_back(std::move(device->modemWatch));
        watches.push_back(std::move(device->drainWatch));
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

// ---- Devices ----------------------------------------------------------------

TOsError TLinuxCommLayer::CreateFile(const std::string& path, THandle& handle)
{
    handle = INVALID_HANDLE_VALUE;
    UniqueFd fd(::open(DevicePath(path).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid())
        return LastError();
    if (!::isatty(fd.Get()))
        return ENOTTY;
    // TIOCEXCL keeps other users out; flock also keeps out a second open by
    // root, whom TIOCEXCL lets through.
    if (::ioctl(fd.Get(), TIOCEXCL) != 0)
        return LastError();
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? EBUSY : LastError();

    auto device = std::make_shared<Device>();
    device->fd = std::move(fd);
    device->roomAgain = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!device->roomAgain.Valid())
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
    // report through it.
    Device& added = *device;
    std::lock_guard lock(added.mutex);
    handle = devices_.Add(std::move(device), NewSerial());
    if (handle == INVALID_HANDLE_VALUE)
        return ENFILE;
    added.handle = handle;
    return NoError;
}

TOsError TLinuxCommLayer::CloseHandle(THandle handle)
{
    if (events_.Remove(handle))
        return NoError;
    const std::shared_ptr<Device> closing = devices_.Remove(handle);
    if (!closing)
        return EBADF;
    // The watches end before the descriptor they wait on is closed.
    std::unique_ptr<TInterruptibleWait> watch, drain;
    {
        std::lock_guard lock(closing->mutex);
        // Nobody may be left waiting for an operation of a closed device.
        while (!closing->reads.empty())
            CompleteRead(*closing, 0, OperationAborted);
        while (!closing->writes.empty())
            CompleteWrite(*closing, 0, OperationAborted);
        if (closing->wait)
            CompleteWait(*closing, 0, OperationAborted);
        watch = std::move(closing->modemWatch);
        drain = std::move(closing->drainWatch);
    }
    watch.reset();
    drain.reset();
    return NoError;
}

TOsError TLinuxCommLayer::SetCommState(THandle handle, const TDCB& dcb)
{
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    std::lock_guard lock(device->mutex);
    TTermios2 tio{};
    if (::ioctl(device->fd.Get(), GetTermios2, &tio) != 0)
        return LastError();
    TLineControl lines;
    if (const TOsError error = DcbToTermios(dcb, tio, lines))
        return error;
    if (::ioctl(device->fd.Get(), SetTermios2, &tio) != 0)
        return LastError();
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
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    std::lock_guard lock(device->mutex);
    device->timeouts = timeouts;
    return NoError;
}

TOsError TLinuxCommLayer::SetupComm(THandle handle, std::uint32_t inQueue, std::uint32_t outQueue)
{
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    if (inQueue > MaxQueueSize || outQueue > MaxQueueSize)
        return EINVAL;
    std::lock_guard lock(device->mutex);
    // The transmit queue is the kernel's own; only the receive queue is ours.
    if (inQueue != 0)
        device->rx.SetCapacity(inQueue);
    device->above80 = device->rx.Above80();
    ResumeWatch(*device);
    return NoError;
}

TOsError TLinuxCommLayer::PurgeComm(THandle handle, std::uint32_t flags)
{
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    std::lock_guard lock(device->mutex);
    if (flags & PURGE_TXABORT) {
        while (!device->writes.empty())
            CompleteWrite(*device, 0, OperationAborted);
    }
    if (flags & PURGE_RXABORT) {
        while (!device->reads.empty())
            CompleteRead(*device, 0, OperationAborted);
        if (device->wait)
            CompleteWait(*device, 0, OperationAborted);
    }
    if (flags & PURGE_RXCLEAR) {
        ::tcflush(device->fd.Get(), TCIFLUSH);
        device->rx.Clear();
        device->above80 = false;
        ResumeWatch(*device);
    }
    if (flags & PURGE_TXCLEAR)
        ::tcflush(device->fd.Get(), TCOFLUSH);
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
    }
    return event;
}

TOsError TLinuxCommLayer::ReadFile(THandle handle, void* buffer, std::uint32_t count, std::uint32_t& read,
                                   TOverlapped& overlapped)
{
    read = 0;
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    PendingRead request;
    request.overlapped = &overlapped;
    request.buffer = static_cast<std::uint8_t*>(buffer);
    request.count = count;
    request.event = BindEvent(overlapped.hEvent, device);

    std::lock_guard lock(device->mutex);
    const Clock::time_point now = Clock::now();
    if (device->reads.empty()) {
        // The queue first; what it did not hold comes straight from the
        // driver into the caller's buffer, in the one read a look makes.
        request.done = static_cast<std::uint32_t>(device->rx.Pop(request.buffer, count));
        if (request.done < count)
            ReadDevice(*device, now, &request);
        device->above80 = device->rx.Above80();
        ResumeWatch(*device);
    } else {
        // Reads already pending take what arrived first.
        Pump(*device, now);
    }

    auto complete = [&](TOsError status) {
        read = request.done;
        FinishOperation(overlapped, request.event.get(), status, request.done, status == NoError);
        return status;
    };
    // Bytes received before a loss are still delivered; after them, the loss.
    if (device->lost != NoError && request.done == 0)
        return complete(device->lost);
    const TCommTimeouts& t = device->timeouts;
    const bool returnAtOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                              t.ReadTotalTimeoutConstant == 0;
    const bool firstByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                           t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD;
    if (request.done == count || returnAtOnce || (firstByte && request.done > 0) || device->lost != NoError)
        return complete(NoError);

    using std::chrono::milliseconds;
    if (firstByte) {
        request.completesAtFirstByte = true;
        request.totalDeadline = now + milliseconds(t.ReadTotalTimeoutConstant);
    } else {
        const std::uint64_t total =
            std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + std::uint64_t{t.ReadTotalTimeoutConstant};
        if (total > 0)
            request.totalDeadline = SaturatedDeadline(now, total);
        if (t.ReadIntervalTimeout != 0)
            request.interval = milliseconds(t.ReadIntervalTimeout);
        if (request.done > 0)
            request.lastByte = now;
    }
    overlapped.Internal = IoPending;
    overlapped.InternalHigh = request.done;
    device->reads.push_back(std::move(request));
    return IoPending;
}

TOsError TLinuxCommLayer::GetOverlappedResult(THandle handle, TOverlapped& overlapped, std::uint32_t& transferred,
                                              bool wait)
{
    transferred = 0;
    if (wait) {
        const THandle event = overlapped.hEvent;
        const TWaitResult result = WaitForMultipleObjects(std::span(&event, 1), INFINITE);
        if (result.Result == WAIT_FAILED)
            return result.Error;
    }
    const std::shared_ptr<Device> device = FindDevice(handle);
    // Closing a device completes its operations: a record of a closed device
    // is written by nobody any more and holds how its operation ended.
    if (!device) {
        if (overlapped.Internal == IoPending)
            return EBADF;
        transferred = static_cast<std::uint32_t>(overlapped.InternalHigh);
        return static_cast<TOsError>(overlapped.Internal);
    }
    // The record is written by whichever thread completes the operation,
    // under the device's lock.
    std::lock_guard lock(device->mutex);
    if (overlapped.Internal == IoPending)
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
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    std::lock_guard lock(device->mutex);
    Pump(*device, Clock::now());
    if (device->lost != NoError && device->rx.Size() == 0)
        return device->lost;
    ReadLineCounters(*device);
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

TOsError TLinuxCommLayer::GetCommModemStatus(THandle handle, std::uint32_t& status)
{
    status = 0;
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    std::lock_guard lock(device->mutex);
    if (!device->hasModemLines)
        return NoError;
    int lines = 0;
    if (::ioctl(device->fd.Get(), TIOCMGET, &lines) != 0)
        return LastError();
    if (lines & TIOCM_CTS)
        status |= MS_CTS_ON;
    if (lines & TIOCM_DSR)
        status |= MS_DSR_ON;
    if (lines & TIOCM_RNG)
        status |= MS_RING_ON;
    if (lines & TIOCM_CAR)
        status |= MS_RLSD_ON;
    return NoError;
}

// ---- Line events ----------------------------------------------------------

TOsError TLinuxCommLayer::SetCommMask(THandle handle, std::uint32_t mask)
{
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    // A stopped watch is destroyed after the lock is released: its thread
    // takes the lock to report.
    std::unique_ptr<TInterruptibleWait> stopped, drain;
    {
        std::lock_guard lock(device->mutex);
        device->eventMask = mask;
        device->eventHistory = 0;
        // Whether the driver holds bytes was only tracked while a mask was set.
        device->readable = true;
        if (device->wait)
            CompleteWait(*device, 0, NoError);
        stopped = UpdateModemWatch(*device);
        if (!(mask & EV_TXEMPTY)) {
            drain = std::move(device->drainWatch);
            device->drainRunning = false;
        }
    }
    return NoError;
}

std::unique_ptr<TInterruptibleWait> TLinuxCommLayer::UpdateModemWatch(Device& device)
{
    constexpr std::uint32_t ModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
    const bool wanted = device.hasModemLines && (device.eventMask & ModemEvents) != 0;
    if (!wanted)
        return std::move(device.modemWatch);
    if (!device.modemWatch) {
        ::ioctl(device.fd.Get(), TIOCMGET, &device.modemLines);
        const int fd = device.fd.Get();
        const THandle handle = device.handle;
        device.modemWatch = std::make_unique<TInterruptibleWait>(
            [fd] { return ::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG); },
            [this, handle] {
                ModemLinesChanged(handle);
                return true;
            });
    }
    return nullptr;
}

void TLinuxCommLayer::ModemLinesChanged(THandle handle)
{
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return;
    std::lock_guard lock(device->mutex);
    int lines = 0;
    if (::ioctl(device->fd.Get(), TIOCMGET, &lines) != 0)
        return;
    const int changed = lines ^ device->modemLines;
    device->modemLines = lines;
    std::uint32_t events = 0;
    if (changed & TIOCM_CTS)
        events |= EV_CTS;
    if (changed & TIOCM_DSR)
        events |= EV_DSR;
    if (changed & TIOCM_CD)
        events |= EV_RLSD;
    // The driver counts a ring on the indicator's trailing edge, which a
    // fresh read of the lines may no longer show as a change.
    if ((changed & TIOCM_RNG) || changed == 0)
        events |= EV_RING;
    RaiseEvents(*device, events);
}

TOsError TLinuxCommLayer::WaitCommEvent(THandle handle, std::uint32_t& mask, TOverlapped& overlapped)
{
    mask = 0;
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    std::lock_guard lock(device->mutex);
    if (device->wait)
        return EINVAL;
    Pump(*device, Clock::now());
    // Events raised before a loss are still reported; after them, the loss.
    if (device->lost != NoError && device->eventHistory == 0)
        return device->lost;
    // Bound only once the wait is sure to start: a wait on the event of a
    // wait that never started must not watch the device.
    device->wait = PendingWait{&overlapped, &mask, BindEvent(overlapped.hEvent, device)};
    overlapped.Internal = IoPending;
    overlapped.InternalHigh = 0;
    if (device->eventHistory != 0) {
        const std::uint32_t events = device->eventHistory;
        device->eventHistory = 0;
        CompleteWait(*device, events, NoError);
    }
    return device->wait ? IoPending : NoError;
}

// ---- The pump ---------------------------------------------------------------

void TLinuxCommLayer::Pump(Device& device, Clock::time_point now)
{
    ReadDevice(device, now, device.reads.empty() ? nullptr : &device.reads.front());
    FeedReads(device, now);
    CompleteDueReads(device, now);
    if (!device.writes.empty())
        PumpWrites(device, now);
}

void TLinuxCommLayer::ReadDevice(Device& device, Clock::time_point now, PendingRead* target)
{
    if (device.lost != NoError || (!device.readable && device.eventMask != 0))
        return;
    const bool dropNulls = device.dcb.Flags & dcb_NullDiscard;
    const bool wantFlag = device.eventMask & EV_RXFLAG;
    const auto flag = static_cast<std::uint8_t>(device.dcb.EvtChar);
    std::uint32_t events = 0;
    while (device.rx.Room() > 0) {
        // A pending read whose bytes would come first takes them directly;
        // what does not fit goes on into the queue. Discarding nulls keeps
        // the bytes in the queue, where they are compacted.
        iovec segments[3];
        int parts = 0;
        std::size_t direct = 0;
        if (target && !dropNulls && device.rx.Size() == 0 && target->done < target->count) {
            direct = target->count - target->done;
            segments[parts++] = iovec{target->buffer + target->done, direct};
        }
        parts += device.rx.FreeSegments(segments + parts);
        std::size_t wanted = 0;
        for (int i = 0; i < parts; ++i)
            wanted += segments[i].iov_len;

        const ssize_t n = ::readv(device.fd.Get(), segments, parts);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            device.readable = false;
            break;
        }
        // With VMIN 1 an empty line fails with EAGAIN, so end of file (0)
        // means a hang-up.
        if (n <= 0) {
            // The device went away (a pseudo-terminal's other end closed, a
            // USB adapter pulled): stop watching it, or poll would spin.
            device.lost = n < 0 ? LastError() : EIO;
            break;
        }
        const auto got = static_cast<std::size_t>(n);
        const std::size_t toTarget = std::min(got, direct);
        std::size_t toQueue = got - toTarget;
        if (toTarget > 0) {
            if (wantFlag && std::memchr(target->buffer + target->done, flag, toTarget))
                events |= EV_RXFLAG;
            target->done += static_cast<std::uint32_t>(toTarget);
            target->lastByte = now;
            if (target->overlapped)
                target->overlapped->InternalHigh = target->done;
        }
        if (toQueue > 0) {
            device.rx.Commit(toQueue);
            if (dropNulls)
                toQueue = device.rx.DiscardNulls(toQueue);
            if (wantFlag && toQueue > 0) {
                std::span<std::uint8_t> spans[2];
                const int count = device.rx.LastSpans(toQueue, spans);
                for (int i = 0; i < count; ++i) {
                    if (std::memchr(spans[i].data(), flag, spans[i].size()))
                        events |= EV_RXFLAG;
                }
            }
        }
        if (toTarget + toQueue > 0)
            events |= EV_RXCHAR;
        // A short read emptied the driver's queue; poll reports what comes next.
        if (got < wanted) {
            device.readable = false;
            break;
        }
        target = nullptr;
    }
    if (events & EV_RXCHAR) {
        ReadLineCounters(device);
        const bool above80 = device.rx.Above80();
        if (above80 && !device.above80)
            events |= EV_RX80FULL;
        device.above80 = above80;
    }
    if (device.errorWord & (CE_FRAME | CE_OVERRUN | CE_RXPARITY))
        events |= EV_ERR;
    if (device.errorWord & CE_BREAK)
        events |= EV_BREAK;
    RaiseEvents(device, events);
    // A wait that the events above did not complete learns of the loss.
    if (device.lost != NoError && device.wait)
        CompleteWait(device, 0, device.lost);
}

void TLinuxCommLayer::ReadLineCounters(Device& device)
{
    if (!device.hasCounters)
        return;
    serial_icounter_struct counts{};
    if (::ioctl(device.fd.Get(), TIOCGICOUNT, &counts) != 0)
        return;
    LineCounters& last = device.counters;
    if (counts.frame != last.frame)
        device.errorWord |= CE_FRAME;
    if (counts.overrun != last.overrun)
        device.errorWord |= CE_OVERRUN;
    if (counts.parity != last.parity)
        device.errorWord |= CE_RXPARITY;
    if (counts.brk != last.brk)
        device.errorWord |= CE_BREAK;
    if (counts.buf_overrun != last.bufOverrun)
        device.errorWord |= CE_RXOVER;
    last = {counts.frame, counts.overrun, counts.parity, counts.brk, counts.buf_overrun};
}

void TLinuxCommLayer::RaiseEvents(Device& device, std::uint32_t events)
{
    device.eventHistory |= events & device.eventMask;
    if (device.wait && device.eventHistory != 0) {
        const std::uint32_t history = device.eventHistory;
        device.eventHistory = 0;
        CompleteWait(device, history, NoError);
    }
}

void TLinuxCommLayer::FeedReads(Device& device, Clock::time_point now)
{
    if (device.reads.empty() || device.rx.Size() == 0)
        return;
    for (PendingRead& read : device.reads) {
        if (device.rx.Size() == 0)
            break;
        const std::size_t taken = device.rx.Pop(read.buffer + read.done, read.count - read.done);
        read.done += static_cast<std::uint32_t>(taken);
        read.overlapped->InternalHigh = read.done;
        if (taken > 0)
            read.lastByte = now;
    }
    device.above80 = device.rx.Above80();
    ResumeWatch(device);
}

void TLinuxCommLayer::ResumeWatch(Device& device)
{
    if (!device.watchPaused || device.rx.Room() == 0)
        return;
    device.watchPaused = false;
    if (!device.roomAgainArmed) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(device.roomAgain.Get(), &one, sizeof one);
        device.roomAgainArmed = true;
    }
}

void TLinuxCommLayer::CompleteDueReads(Device& device, Clock::time_point now)
{
    for (std::size_t i = 0; i < device.reads.size();) {
        const PendingRead& read = device.reads[i];
        const bool full = read.done == read.count;
        const bool firstByte = read.completesAtFirstByte && read.done > 0;
        const bool total = read.totalDeadline && now >= *read.totalDeadline;
        const bool interval = read.interval && read.lastByte && now - *read.lastByte >= *read.interval;
        if (full || firstByte || total || interval)
            CompleteRead(device, i, NoError);
        else if (device.lost != NoError)
            // What arrived before the loss is delivered; a read that got
            // nothing fails with it.
            CompleteRead(device, i, read.done > 0 ? NoError : device.lost);
        else
            ++i;
    }
}

void TLinuxCommLayer::CompleteRead(Device& device, std::size_t index, TOsError status)
{
    PendingRead read = std::move(device.reads[index]);
    device.reads.erase(device.reads.begin() + static_cast<std::ptrdiff_t>(index));
    FinishOperation(*read.overlapped, read.event.get(), status, read.done, true);
}

void TLinuxCommLayer::CompleteWait(Device& device, std::uint32_t mask, TOsError status)
{
    PendingWait wait = std::move(*device.wait);
    device.wait.reset();
    *wait.mask = mask;
    FinishOperation(*wait.overlapped, wait.event.get(), status, 0, true);
}

void TLinuxCommLayer::FinishOperation(TOverlapped& overlapped, Event* event, TOsError status, std::uint32_t done,
                                      bool signal)
{
    overlapped.Internal = status;
    overlapped.InternalHigh = done;
    if (!event)
        return;
    std::lock_guard lock(event->mutex);
    event->boundTo.reset();
    if (signal)
        Signal(*event);
}

std::optional<TLinuxCommLayer::Clock::time_point> TLinuxCommLayer::NextDeadline(const Device& device)
{
    std::optional<Clock::time_point> next;
    auto consider = [&](Clock::time_point t) {
        if (!next || t < *next)
            next = t;
    };
    for (const PendingRead& read : device.reads) {
        if (read.totalDeadline)
            consider(*read.totalDeadline);
        if (read.interval && read.lastByte)
            consider(*read.lastByte + *read.interval);
    }
    for (const PendingWrite& write : device.writes) {
        if (write.deadline)
            consider(*write.deadline);
    }
    return next;
}

} // namespace Comm
