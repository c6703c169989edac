// The Linux backend's pump: what a look at a device does. It reads what the
// driver holds into the receive queue (or straight into the first pending
// read), raises the line events that means, and completes the operations
// that are due.
#include "CommLinux.h"

#include "CommLinuxSupport.h"

#include <algorithm>
#include <cstring>

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace Comm {

// ---- The pump ---------------------------------------------------------------

namespace {

// How long a look that found the driver's queue empty is trusted by one
// other look (a count, a read that returns at once) that no poll stands
// behind. The count announced with a received-character event, taken just
// after the event thread emptied the driver, so spends no system call; a
// count polled again reads the driver.
constexpr auto FreshLook = std::chrono::milliseconds(1);

} // namespace

void TLinuxCommLayer::Pump(Device& device, Clock::time_point now, bool watcher)
{
    if (MayHoldBytes(device, now, watcher))
        ReadDevice(device, now, device.reads.empty() ? nullptr : &device.reads.front());
    FeedReads(device, now);
    CompleteDueReads(device, now);
    if (!device.writes.empty())
        PumpWrites(device, now);
}

bool TLinuxCommLayer::MayHoldBytes(Device& device, Clock::time_point now, bool watcher)
{
    if (device.lost != NoError || device.closed)
        return false;
    if (device.readable)
        return true;
    // A watcher's poll reports the bytes that come next.
    if (watcher)
        return false;
    if (device.foundEmptyAt && now - *device.foundEmptyAt < FreshLook) {
        device.foundEmptyAt.reset();
        return false;
    }
    return true;
}

void TLinuxCommLayer::ReadDevice(Device& device, Clock::time_point now, PendingRead* target)
{
    std::uint32_t events = 0;
    while (device.rx.Room() > 0 && ReadOnce(device, now, target, events))
        target = nullptr;
    if (events & EvRxChar) {
        events |= ReadLineCounters(device);
        const bool above80 = device.rx.Above80();
        if (above80 && !device.above80)
            events |= EvRx80Full;
        device.above80 = above80;
    }
    RaiseEvents(device, events);
    // A wait that the events above did not complete learns of the loss.
    if (device.lost != NoError && device.wait)
        CompleteWait(device, 0, device.lost);
}

bool TLinuxCommLayer::ReadOnce(Device& device, Clock::time_point now, PendingRead*& target, std::uint32_t& events)
{
    // A pending read whose bytes would come first takes them directly; what
    // does not fit goes on into the queue. Discarding nulls keeps the bytes
    // in the queue, where they are compacted.
    const bool dropNulls = device.dcb.Flags & dcb_NullDiscard;
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

    ssize_t n;
    do
        n = ::readv(device.fd.Get(), segments, parts);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        device.readable = false;
        device.foundEmptyAt = now;
        return false;
    }
    // With VMIN 1 an empty line fails with EAGAIN, so end of file (0) means
    // a hang-up: the device went away (a pseudo-terminal's other end closed,
    // a USB adapter pulled) and is no longer watched, or poll would spin.
    if (n <= 0) {
        device.lost = n < 0 ? LastError() : EIO;
        return false;
    }
    const auto got = static_cast<std::size_t>(n);
    const std::size_t toTarget = std::min(got, direct);
    if (toTarget > 0) {
        if ((device.eventMask & EvRxFlag) &&
            std::memchr(target->buffer + target->done, static_cast<std::uint8_t>(device.dcb.EvtChar), toTarget))
            events |= EvRxFlag;
        target->done += static_cast<std::uint32_t>(toTarget);
        target->lastByte = now;
        if (target->overlapped)
            target->overlapped->InternalHigh = target->done;
        events |= EvRxChar;
    }
    if (got > toTarget)
        events |= QueueEvents(device, got - toTarget);
    // A short read emptied the driver's queue; a poll reports what comes next.
    if (got < wanted) {
        device.readable = false;
        device.foundEmptyAt = now;
        return false;
    }
    return true;
}

std::uint32_t TLinuxCommLayer::QueueEvents(Device& device, std::size_t added)
{
    device.rx.Commit(added);
    if (device.dcb.Flags & dcb_NullDiscard)
        added = device.rx.DiscardNulls(added);
    if (added == 0)
        return 0;
    std::uint32_t events = EvRxChar;
    if (device.eventMask & EvRxFlag) {
        std::span<std::uint8_t> spans[2];
        const int count = device.rx.LastSpans(added, spans);
        for (int i = 0; i < count; ++i) {
            if (std::memchr(spans[i].data(), static_cast<std::uint8_t>(device.dcb.EvtChar), spans[i].size()))
                events |= EvRxFlag;
        }
    }
    return events;
}

std::uint32_t TLinuxCommLayer::ReadLineCounters(Device& device)
{
    if (!device.hasCounters)
        return 0;
    serial_icounter_struct counts{};
    if (::ioctl(device.fd.Get(), TIOCGICOUNT, &counts) != 0)
        return 0;
    // Each error the driver counted since the last look is added to the
    // error word and raises its event once, however long the word is left
    // uncleared.
    LineCounters& last = device.counters;
    std::uint32_t fresh = 0;
    if (counts.frame != last.frame)
        fresh |= CeFrame;
    if (counts.overrun != last.overrun)
        fresh |= CeOverrun;
    if (counts.parity != last.parity)
        fresh |= CeRxParity;
    if (counts.brk != last.brk)
        fresh |= CeBreak;
    if (counts.buf_overrun != last.bufOverrun)
        fresh |= CeRxOver;
    last = {counts.frame, counts.overrun, counts.parity, counts.brk, counts.buf_overrun};
    device.errorWord |= fresh;
    std::uint32_t events = 0;
    if (fresh & (CeFrame | CeOverrun | CeRxParity))
        events |= EvErr;
    if (fresh & CeBreak)
        events |= EvBreak;
    return events;
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
    WakeWatchers(device);
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
