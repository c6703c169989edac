// The Linux backend's event objects and the wait on several of them, which
// also watches the devices whose operations the events wait for.
#include "CommLinux.h"

#include "CommLinuxSupport.h"

#include <algorithm>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace Comm {

// ---- Event objects ----------------------------------------------------------

TOsError TLinuxCommLayer::CreateEvent(bool manualReset, bool initialState, THandle& handle)
{
    handle = INVALID_HANDLE_VALUE;
    auto event = std::make_shared<Event>();
    event->fd = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!event->fd.Valid())
        return LastError();
    event->manualReset = manualReset;
    event->signalled = initialState;
    handle = events_.Add(std::move(event), NewSerial());
    return handle == INVALID_HANDLE_VALUE ? ENFILE : NoError;
}

void TLinuxCommLayer::Signal(Event& event)
{
    if (event.signalled)
        return;
    event.signalled = true;
    if (event.sleepers > 0 && !event.fdArmed) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(event.fd.Get(), &one, sizeof one);
        event.fdArmed = true;
    }
}

void TLinuxCommLayer::Unsignal(Event& event)
{
    event.signalled = false;
    if (event.fdArmed) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(event.fd.Get(), &value, sizeof value);
        event.fdArmed = false;
    }
}

TOsError TLinuxCommLayer::SetEvent(THandle handle)
{
    const std::shared_ptr<Event> event = FindEvent(handle);
    if (!event)
        return EBADF;
    std::lock_guard lock(event->mutex);
    Signal(*event);
    return NoError;
}

TOsError TLinuxCommLayer::ResetEvent(THandle handle)
{
    const std::shared_ptr<Event> event = FindEvent(handle);
    if (!event)
        return EBADF;
    std::lock_guard lock(event->mutex);
    Unsignal(*event);
    return NoError;
}

namespace {

// The objects one wait works on, kept per thread so that a wait allocates
// nothing once the thread has waited before; emptied on every way out.
template <typename EventPtr, typename DevicePtr>
struct WaitScratch {
    std::vector<EventPtr> events;
    std::vector<DevicePtr> devices;
    std::vector<pollfd> fds;
    void Clear()
    {
        events.clear();
        devices.clear();
        fds.clear();
    }
};

} // namespace

TWaitResult TLinuxCommLayer::WaitForMultipleObjects(std::span<const THandle> handles, std::uint32_t timeoutMs)
{
    std::optional<Clock::time_point> deadline;
    if (timeoutMs != INFINITE)
        deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    thread_local WaitScratch<std::shared_ptr<Event>, std::shared_ptr<Device>> scratch;
    struct Cleared {
        ~Cleared() { scratch.Clear(); }
    } cleared;
    auto& events = scratch.events;
    auto& devices = scratch.devices;
    auto& fds = scratch.fds;
    for (const THandle handle : handles) {
        std::shared_ptr<Event> event = FindEvent(handle);
        if (!event)
            return {WAIT_FAILED, EBADF};
        events.push_back(std::move(event));
    }
    // Takes a signalled event: an auto-reset one goes to exactly one waiter.
    auto take = [](Event& event, std::size_t index) {
        if (!event.manualReset)
            Unsignal(event);
        return TWaitResult{static_cast<std::uint32_t>(WAIT_OBJECT_0 + index), NoError};
    };
    auto leave = [&](std::size_t count) {
        for (std::size_t j = 0; j < count; ++j) {
            std::lock_guard lock(events[j]->mutex);
            --events[j]->sleepers;
        }
    };

    std::size_t devicesPolled = 0;
    for (;;) {
        // The first signalled event wins; the devices whose operations the
        // events wait for are found on the way.
        devices.clear();
        for (std::size_t i = 0; i < events.size(); ++i) {
            Event& event = *events[i];
            std::shared_ptr<Device> device;
            {
                std::lock_guard lock(event.mutex);
                if (event.signalled)
                    return take(event, i);
                device = event.boundTo.lock();
            }
            if (device && std::find(devices.begin(), devices.end(), device) == devices.end())
                devices.push_back(std::move(device));
        }
        // Operations bound to the waited events complete in place: this
        // thread reads their device itself, when the last poll found it
        // readable (or with news of a hang-up). Then what to watch: a full
        // receive queue is left to the kernel's buffer until it is read
        // (watching the device then would only spin; its roomAgain
        // descriptor is watched instead), and pending writes watch for room
        // in the driver. Each device has two slots, the events follow.
        std::optional<Clock::time_point> wake = deadline;
        const Clock::time_point now = Clock::now();
        fds.resize(2 * devices.size());
        for (std::size_t d = 0; d < devices.size(); ++d) {
            Device& device = *devices[d];
            std::lock_guard lock(device.mutex);
            const pollfd& last = fds[2 * d];
            if (d < devicesPolled && last.fd == device.fd.Get() && (last.revents & (POLLIN | POLLHUP | POLLERR)) != 0)
                device.readable = true;
            if (device.roomAgainArmed) {
                std::uint64_t value = 0;
                [[maybe_unused]] const ssize_t n = ::read(device.roomAgain.Get(), &value, sizeof value);
                device.roomAgainArmed = false;
            }
            Pump(device, now);
            if (const auto due = NextDeadline(device); due && (!wake || *due < *wake))
                wake = due;
            device.watchPaused = device.rx.Room() == 0;
            const bool alive = device.lost == NoError;
            short watch = 0;
            if (alive && !device.watchPaused)
                watch |= POLLIN;
            if (alive && !device.writes.empty())
                watch |= POLLOUT;
            fds[2 * d] = pollfd{watch != 0 ? device.fd.Get() : -1, watch, 0};
            fds[2 * d + 1] = pollfd{alive && device.watchPaused ? device.roomAgain.Get() : -1, POLLIN, 0};
        }
        devicesPolled = devices.size();
        // Asleep from here on: a signal from now on writes the eventfd.
        for (std::size_t i = 0; i < events.size(); ++i) {
            Event& event = *events[i];
            std::lock_guard lock(event.mutex);
            if (event.signalled) {
                leave(i);
                return take(event, i);
            }
            ++event.sleepers;
            fds.push_back(pollfd{event.fd.Get(), POLLIN, 0});
        }
        if (deadline && now >= *deadline) {
            leave(events.size());
            return {WAIT_TIMEOUT, NoError};
        }

        timespec timeout{};
        timespec* timeoutPointer = nullptr;
        if (wake) {
            const auto left = std::max(Clock::duration::zero(), *wake - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
            timeoutPointer = &timeout;
        }
        const int polled = ::ppoll(fds.data(), fds.size(), timeoutPointer, nullptr);
        const TOsError pollError = polled < 0 ? LastError() : NoError;
        leave(events.size());
        if (polled < 0 && pollError != EINTR)
            return {WAIT_FAILED, pollError};
        if (polled < 0) {
            for (pollfd& p : fds)
                p.revents = 0;
        }
        // Whatever woke us (an event, a readable device, a deadline) is
        // looked at in the next round.
    }
}

} // namespace Comm
