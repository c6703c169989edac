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
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    PendingWrite request;
    request.overlapped = &overlapped;
    request.event = BindEvent(overlapped.hEvent, device);
    request.data = static_cast<const std::uint8_t*>(buffer);
    request.count = count;

    std::lock_guard lock(device->mutex);
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
    if (!device.txSinceEmpty || !device.writes.empty() || !(device.eventMask & EV_TXEMPTY) || device.drainRunning)
        return;
    int queued = 0;
    if (::ioctl(device.fd.Get(), TIOCOUTQ, &queued) != 0 || queued == 0) {
        device.txSinceEmpty = false;
        RaiseEvents(device, EV_TXEMPTY);
        return;
    }
    // A drain wait that has ended no longer needs this lock: it can be
    // joined here.
    device.drainWatch.reset();
    device.drainRunning = true;
    const int fd = device.fd.Get();
    const THandle handle = device.handle;
    device.drainWatch = std::make_unique<TInterruptibleWait>([fd] { return ::tcdrain(fd); },
                                                             [this, handle] { return OutputDrained(handle); });
}

bool TLinuxCommLayer::OutputDrained(THandle handle)
{
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return false;
    std::lock_guard lock(device->mutex);
    int queued = 0;
    // Written again meanwhile: drain again.
    if (device->writes.empty() && ::ioctl(device->fd.Get(), TIOCOUTQ, &queued) == 0 && queued > 0)
        return true;
    device->drainRunning = false;
    // A write still pending starts the next wait when the driver has taken it.
    if (!device->writes.empty())
        return false;
    if (device->txSinceEmpty && (device->eventMask & EV_TXEMPTY)) {
        device->txSinceEmpty = false;
        RaiseEvents(*device, EV_TXEMPTY);
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
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(count, MAXDWORD));
}

TOsError TLinuxCommLayer::EscapeCommFunction(THandle handle, std::uint32_t function)
{
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    std::lock_guard lock(device->mutex);
    const int fd = device->fd.Get();
    auto modemLine = [&](unsigned long request, int line) -> TOsError {
        // A line that is not there is set without effect, as it reads off.
        if (!device->hasModemLines)
            return NoError;
        return ::ioctl(fd, request, &line) == 0 ? NoError : LastError();
    };
    auto call = [](int result) { return result == 0 ? NoError : LastError(); };
    switch (function) {
    case SETRTS: return modemLine(TIOCMBIS, TIOCM_RTS);
    case CLRRTS: return modemLine(TIOCMBIC, TIOCM_RTS);
    case SETDTR: return modemLine(TIOCMBIS, TIOCM_DTR);
    case CLRDTR: return modemLine(TIOCMBIC, TIOCM_DTR);
    case SETBREAK: return call(::ioctl(fd, TIOCSBRK));
    case CLRBREAK: return call(::ioctl(fd, TIOCCBRK));
    case SETXOFF: return call(::tcflow(fd, TCOOFF));
    case SETXON: return call(::tcflow(fd, TCOON));
    default: return EINVAL;
    }
}

TOsError TLinuxCommLayer::TransmitCommChar(THandle handle, char character)
{
    const std::shared_ptr<Device> device = FindDevice(handle);
    if (!device)
        return EBADF;
    std::lock_guard lock(device->mutex);
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
