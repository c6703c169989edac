// The Linux backend's modem input lines: their status, and the thread that
// waits for them to change while an event mask asks for them (poll cannot
// watch them).
#include "CommLinux.h"

#include "CommLinuxSupport.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace Comm {

namespace {

constexpr int WatchedLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;

} // namespace

TOsError TLinuxCommLayer::GetCommModemStatus(THandle handle, std::uint32_t& status)
{
    status = 0;
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return EBADF;
    if (!device->hasModemLines)
        return NoError;
    int lines = 0;
    if (::ioctl(device->fd.Get(), TIOCMGET, &lines) != 0)
        return LastError();
    if (lines & TIOCM_CTS)
        status |= MsCtsOn;
    if (lines & TIOCM_DSR)
        status |= MsDsrOn;
    if (lines & TIOCM_RNG)
        status |= MsRingOn;
    if (lines & TIOCM_CAR)
        status |= MsRlsdOn;
    return NoError;
}

std::unique_ptr<TInterruptibleWait> TLinuxCommLayer::UpdateModemWatch(Device& device)
{
    constexpr std::uint32_t ModemEvents = EvCts | EvDsr | EvRlsd | EvRing;
    const bool wanted = device.hasModemLines && (device.eventMask & ModemEvents) != 0;
    if (!wanted)
        return std::move(device.modemWatch);
    if (!device.modemWatch) {
        // How often the driver saw the lines change and what they are, as
        // the watch starts (in that order: a change in between shows in the
        // lines, not in the counts, and is reported).
        ReadModemCounts(device);
        ::ioctl(device.fd.Get(), TIOCMGET, &device.modemLines);
        const THandle handle = device.handle;
        device.modemWatch = std::make_unique<TInterruptibleWait>([this, handle] { return WaitForModemChange(handle); },
                                                                 [this, handle] {
                                                                     ModemLinesChanged(handle);
                                                                     return true;
                                                                 });
    }
    return nullptr;
}

bool TLinuxCommLayer::ReadModemCounts(Device& device)
{
    serial_icounter_struct counts{};
    if (!device.hasCounters || ::ioctl(device.fd.Get(), TIOCGICOUNT, &counts) != 0)
        return false;
    const ModemCounts now{counts.cts, counts.dsr, counts.dcd, counts.rng};
    const bool moved = now.cts != device.modemCounts.cts || now.dsr != device.modemCounts.dsr ||
                       now.dcd != device.modemCounts.dcd || now.rng != device.modemCounts.rng;
    device.modemCounts = now;
    return moved;
}

int TLinuxCommLayer::WaitForModemChange(THandle handle)
{
    int fd = -1;
    {
        const LockedDevice device = OpenDevice(handle);
        if (!device) {
            errno = EBADF;
            return -1;
        }
        // TIOCMIWAIT waits for a change after it starts: one that came since
        // the lines were last read (before this thread got here, or while
        // the UART did not report changes) is reported at once instead.
        fd = device->fd.Get();
        serial_icounter_struct counts{};
        if (device->hasCounters && ::ioctl(fd, TIOCGICOUNT, &counts) == 0) {
            const ModemCounts& last = device->modemCounts;
            if (counts.cts != last.cts || counts.dsr != last.dsr || counts.dcd != last.dcd || counts.rng != last.rng)
                return 0;
        }
        int lines = 0;
        if (::ioctl(fd, TIOCMGET, &lines) == 0 && ((lines ^ device->modemLines) & WatchedLines) != 0)
            return 0;
    }
    // The descriptor stays open until this thread has been stopped.
    return ::ioctl(fd, TIOCMIWAIT, WatchedLines);
}

void TLinuxCommLayer::ModemLinesChanged(THandle handle)
{
    const LockedDevice device = OpenDevice(handle);
    if (!device)
        return;
    const ModemCounts before = device->modemCounts;
    const bool counted = ReadModemCounts(*device);
    int lines = 0;
    if (::ioctl(device->fd.Get(), TIOCMGET, &lines) != 0)
        return;
    const ModemCounts& after = device->modemCounts;
    const int changed = lines ^ device->modemLines;
    device->modemLines = lines;
    std::uint32_t events = 0;
    if ((changed & TIOCM_CTS) || (counted && after.cts != before.cts))
        events |= EvCts;
    if ((changed & TIOCM_DSR) || (counted && after.dsr != before.dsr))
        events |= EvDsr;
    if ((changed & TIOCM_CD) || (counted && after.dcd != before.dcd))
        events |= EvRlsd;
    // The driver counts a ring on the indicator's trailing edge, which a
    // fresh read of the lines may no longer show as a change; without
    // counters a wake-up with no visible change can only be that.
    if ((counted && after.rng != before.rng) || (!device->hasCounters && ((changed & TIOCM_RNG) || changed == 0)))
        events |= EvRing;
    RaiseEvents(*device, events);
}

} // namespace Comm
