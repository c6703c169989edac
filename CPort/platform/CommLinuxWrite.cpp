// The Linux backend's writing: overlapped writes from the caller's buffer,
// the write timeouts, the output count, the empty-queue event, the output
// lines and single characters.
#include "CommLinux.h"

#include "CommLinuxSupport.h"

#include <algorithm>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace Comm {

// ---- Writing ----------------------------------------------------------------

TOsError TLinuxCommLayer::WriteFile(THandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written,
                                    TOverlapped& overlapped)
{
    written = 0;
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    PendingWrite request;
    request.overlapped = &overlapped;
    request.event = BindEvent(overlapped.hEvent, device.device);
    request.data = static_cast<const std::uint8_t*>(buffer);
    request.count = count;

    auto complete = [&](TOsError status) {
        written = request.done;
        FinishOperation(overlapped, request.event.get(), status, request.done, status == NoError);
        return status;
    };
    if (device->lost != NoError)
        return complete(device->lost);
    // Bytes go from the caller's buffer to the driver, behind any write
    // still pending.
    if (device->writes.empty() && count > 0) {
        if (const TOsError error = WriteDevice(*device, request))
            return complete(error);
    }
    if (request.done == count) {
        complete(NoError);
        WatchOutputDrain(*device);
        return NoError;
    }
    const TCommTimeouts& t = device->timeouts;
    const std::uint64_t total =
        std::uint64_t{t.WriteTotalTimeoutMultiplier} * count + std::uint64_t{t.WriteTotalTimeoutConstant};
    if (total > 0)
        request.deadline = SaturatedDeadline(Clock::now(), total);
    overlapped.Internal = IoPending;
    overlapped.InternalHigh = request.done;
    device->writes.push_back(std::move(request));
    OperationStarted(device.device);
    return IoPending;
}

TOsError TLinuxCommLayer::WriteDevice(Device& device, PendingWrite& write)
{
    while (write.done < write.count) {
        const ssize_t n = ::write(device.fd.Get(), write.data + write.done, write.count - write.done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return NoError;
        if (n < 0) {
            const TOsError error = LastError();
            // The line is gone, not just refusing this write.
            if (error == EIO || error == ENXIO || error == ENODEV)
                device.lost = error;
            return error;
        }
        write.done += static_cast<std::uint32_t>(n);
        if (write.overlapped)
            write.overlapped->InternalHigh = write.done;
        device.txSinceEmpty = true;
    }
    return NoError;
}

void TLinuxCommLayer::PumpWrites(Device& device, Clock::time_point now)
{
    while (!device.writes.empty()) {
        PendingWrite& write = device.writes.front();
        const TOsError error = device.lost != NoError ? device.lost : WriteDevice(device, write);
        if (error != NoError)
            CompleteWrite(device, 0, error);
        else if (write.done == write.count)
            CompleteWrite(device, 0, NoError);
        else
            break;
    }
    // A write whose time is up completes with what the driver took.
    for (std::size_t i = 0; i < device.writes.size();) {
        if (device.writes[i].deadline && now >= *device.writes[i].deadline)
            CompleteWrite(device, i, NoError);
        else
            ++i;
    }
    WatchOutputDrain(device);
}

void TLinuxCommLayer::CompleteWrite(Device& device, std::size_t index, TOsError status)
{
    PendingWrite write = std::move(device.writes[index]);
    device.writes.erase(device.writes.begin() + static_cast<std::ptrdiff_t>(index));
    FinishOperation(*write.overlapped, write.event.get(), status, write.done, true);
}

void TLinuxCommLayer::WatchOutputDrain(Device& device)
{
    if (!device.txSinceEmpty || !device.writes.empty() || !(device.eventMask & EvTxEmpty) || device.drainRunning)
        return;
    if (TransmitterEmpty(device.fd.Get())) {
        device.txSinceEmpty = false;
        RaiseEvents(device, EvTxEmpty);
        return;
    }
    // A drain wait that has ended no longer needs this lock: it can be
    // joined here.
    device.drainWatch.reset();
    device.drainRunning = true;
    const std::uint64_t number = ++device.drainNumber;
    const int fd = device.fd.Get();
    const THandle handle = device.handle;
    // The wait and its report run on the same thread, one after the other.
    auto failed = std::make_shared<bool>(false);
    device.drainWatch = std::make_unique<TInterruptibleWait>(
        [fd, failed] {
            const int result = ::tcdrain(fd);
            if (result != 0 && errno == EINTR)
                return -1;
            *failed = result != 0;
            return 0;
        },
        [this, handle, number, failed] { return OutputDrained(handle, number, *failed); });
}

bool TLinuxCommLayer::OutputDrained(THandle handle, std::uint64_t number, bool failed)
{
    const LockedDevice device = OpenDevice(handle);
    // A wait that was replaced or stopped reports nothing.
    if (!device || number != device->drainNumber)
        return false;
    if (!device->writes.empty()) {
        // The pump starts the next wait once the driver has taken them.
        device->drainRunning = false;
        return false;
    }
    const bool empty = TransmitterEmpty(device->fd.Get());
    // Written again meanwhile: drain again.
    if (!empty && !failed)
        return true;
    device->drainRunning = false;
    // A drain the driver refused leaves the event to the next write.
    if (empty && device->txSinceEmpty && (device->eventMask & EvTxEmpty)) {
        device->txSinceEmpty = false;
        RaiseEvents(*device, EvTxEmpty);
    }
    return false;
}

std::uint32_t TLinuxCommLayer::OutputCount(Device& device)
{
    std::uint64_t count = 0;
    for (const PendingWrite& write : device.writes)
        count += write.count - write.done;
    // The driver's queue is asked only when bytes went to it since it was
    // last seen empty: the count sits on the path of every received byte.
    int queued = 0;
    if (device.txSinceEmpty && ::ioctl(device.fd.Get(), TIOCOUTQ, &queued) == 0 && queued > 0)
        count += static_cast<std::uint64_t>(queued);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(count, MaxDword));
}

TOsError TLinuxCommLayer::EscapeCommFunction(THandle handle, std::uint32_t function)
{
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    const int fd = device->fd.Get();
    auto modemLine = [&](unsigned long request, int line) -> TOsError {
        // A line that is not there is set without effect, as it reads off.
        if (!device->hasModemLines)
            return NoError;
        return ::ioctl(fd, request, &line) == 0 ? NoError : LastError();
    };
    auto call = [](int result) { return result == 0 ? NoError : LastError(); };
    switch (function) {
    case EscSetRts: return modemLine(TIOCMBIS, TIOCM_RTS);
    case EscClrRts: return modemLine(TIOCMBIC, TIOCM_RTS);
    case EscSetDtr: return modemLine(TIOCMBIS, TIOCM_DTR);
    case EscClrDtr: return modemLine(TIOCMBIC, TIOCM_DTR);
    case EscSetBreak: return RaiseBreak(*device);
    case EscClrBreak:
        // A raise still waiting for the output ahead of it is called off.
        device->breakWatch.reset();
        return call(::ioctl(fd, TIOCCBRK));
    case EscSetXoff: return call(::tcflow(fd, TCOOFF));
    case EscSetXon: return call(::tcflow(fd, TCOON));
    default: return EINVAL;
    }
}

TOsError TLinuxCommLayer::RaiseBreak(Device& device)
{
    const int fd = device.fd.Get();
    // The driver raises a break only once its output has left, and waits for
    // that inside the call, for as long as the line holds the output back.
    // On a line with nothing to send the break is raised here, errors and
    // all; otherwise a thread of its own waits, and the caller does not.
    if (device.breakWatch)
        return NoError;
    if (TransmitterEmpty(fd))
        return ::ioctl(fd, TIOCSBRK) == 0 ? NoError : LastError();
    device.breakWatch = std::make_unique<TInterruptibleWait>([fd] { return ::ioctl(fd, TIOCSBRK); },
                                                             [] { return false; });
    return NoError;
}

TOsError TLinuxCommLayer::TransmitCommChar(THandle handle, char character)
{
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    if (device->lost != NoError)
        return device->lost;
    // Straight to the driver: ahead of whatever pending writes still hold.
    for (;;) {
        const ssize_t n = ::write(device->fd.Get(), &character, 1);
        if (n == 1)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 ? LastError() : EAGAIN;
    }
    device->txSinceEmpty = true;
    WatchOutputDrain(*device);
    return NoError;
}

} // namespace Comm
