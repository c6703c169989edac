// The Linux backend's event objects and the wait on several of them, which
// also watches the devices whose operations the events wait for.
#include "CommLinux.h"

#include "CommLinuxSupport.h"

#include <algorithm>
#include <optional>
#include <vector>

#include <poll.h>

namespace Comm {

// ---- Event objects ----------------------------------------------------------

TOsError TLinuxCommLayer::CreateEvent(bool manualReset, bool initialState, THandle& handle)
{
    auto event = std::make_shared<Event>();
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
    for (TWakeup* sleeper : event.sleepers)
        sleeper->Wake();
}

void TLinuxCommLayer::Unsignal(Event& event)
{
    event.signalled = false;
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

// One call of WaitForMultipleObjects: the events, the devices their
// operations are bound to, and the poll set (one slot per device, then the
// thread's wake-up). Kept per thread, so that a wait allocates nothing once
// the thread has waited before.
struct TLinuxCommLayer::Waiting {
    TWakeup wakeup;
    std::vector<std::shared_ptr<Event>> events;
    std::vector<std::uint64_t> bindings;
    std::vector<std::shared_ptr<Device>> devices;
    std::vector<pollfd> fds;
    std::size_t asleepOn = 0;

    // The first signalled event, taken; else the devices to watch.
    std::optional<TWaitResult> FirstSignalled();
    // Looks at each device as its watcher; the earliest deadline of its
    // operations.
    std::optional<Clock::time_point> WatchDevices(TLinuxCommLayer& layer, Clock::time_point now);
    // Registers this thread on every event: a signal from now on wakes it.
    // An event signalled meanwhile is taken; false when a binding changed
    // since the devices were chosen.
    bool FallAsleep(std::optional<TWaitResult>& taken);
    // Leaves every event and device, keeping what the poll reported.
    void Leave();
    void Clear()
    {
        events.clear();
        bindings.clear();
        devices.clear();
        fds.clear();
        asleepOn = 0;
    }
};

namespace {

// Takes a signalled event: an auto-reset one goes to exactly one waiter.
template <typename Event>
TWaitResult Take(Event& event, std::size_t index)
{
    if (!event.manualReset)
        event.signalled = false;
    return TWaitResult{static_cast<std::uint32_t>(WAIT_OBJECT_0 + index), NoError};
}

} // namespace

std::optional<TWaitResult> TLinuxCommLayer::Waiting::FirstSignalled()
{
    devices.clear();
    bindings.clear();
    for (std::size_t i = 0; i < events.size(); ++i) {
        Event& event = *events[i];
        std::shared_ptr<Device> device;
        {
            std::lock_guard lock(event.mutex);
            if (event.signalled)
                return Take(event, i);
            device = event.boundTo.lock();
            bindings.push_back(event.bindings);
        }
        if (device && std::find(devices.begin(), devices.end(), device) == devices.end())
            devices.push_back(std::move(device));
    }
    return std::nullopt;
}

std::optional<TLinuxCommLayer::Clock::time_point> TLinuxCommLayer::Waiting::WatchDevices(TLinuxCommLayer& layer,
                                                                                        Clock::time_point now)
{
    // Operations bound to the waited events complete in place: this thread
    // reads their device itself, when its last poll found it readable.
    std::optional<Clock::time_point> wake;
    fds.clear();
    for (const std::shared_ptr<Device>& shared : devices) {
        Device& device = *shared;
        std::lock_guard lock(device.mutex);
        short watch = 0;
        if (!device.closed) {
            device.watchers.push_back(&wakeup);
            // The service thread steps back for a watcher.
            if (device.serviceWatching)
                device.serviceWakeup->Wake();
            layer.Pump(device, now, true);
            if (const auto due = NextDeadline(device); due && (!wake || *due < *wake))
                wake = due;
            watch = WatchFor(device);
        }
        fds.push_back(pollfd{watch != 0 ? device.fd.Get() : -1, watch, 0});
    }
    fds.push_back(pollfd{wakeup.Fd(), POLLIN, 0});
    return wake;
}

bool TLinuxCommLayer::Waiting::FallAsleep(std::optional<TWaitResult>& taken)
{
    for (std::size_t i = 0; i < events.size(); ++i) {
        Event& event = *events[i];
        std::lock_guard lock(event.mutex);
        if (event.signalled) {
            taken = Take(event, i);
            return true;
        }
        // Bound to a device after the devices were chosen: choose again.
        if (event.bindings != bindings[i])
            return false;
        event.sleepers.push_back(&wakeup);
        asleepOn = i + 1;
    }
    return true;
}

void TLinuxCommLayer::Waiting::Leave()
{
    for (std::size_t i = 0; i < asleepOn; ++i) {
        Event& event = *events[i];
        std::lock_guard lock(event.mutex);
        const auto found = std::find(event.sleepers.begin(), event.sleepers.end(), &wakeup);
        if (found != event.sleepers.end())
            event.sleepers.erase(found);
    }
    asleepOn = 0;
    for (std::size_t d = 0; d < devices.size(); ++d) {
        Device& device = *devices[d];
        std::lock_guard lock(device.mutex);
        if (fds[d].revents & (POLLIN | POLLHUP | POLLERR))
            device.readable = true;
        LeaveWatch(device, wakeup);
    }
    wakeup.Consume((fds.back().revents & POLLIN) != 0);
}

TWaitResult TLinuxCommLayer::WaitForMultipleObjects(std::span<const THandle> handles, std::uint32_t timeoutMs)
{
    std::optional<Clock::time_point> deadline;
    if (timeoutMs != INFINITE)
        deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    thread_local Waiting waiting;
    struct Cleared {
        ~Cleared() { waiting.Clear(); }
    } cleared;
    if (!waiting.wakeup.Valid())
        return {WAIT_FAILED, EMFILE};
    for (const THandle handle : handles) {
        std::shared_ptr<Event> event = FindEvent(handle);
        if (!event)
            return {WAIT_FAILED, EBADF};
        waiting.events.push_back(std::move(event));
    }
    for (;;) {
        if (const std::optional<TWaitResult> taken = waiting.FirstSignalled())
            return *taken;
        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> wake = waiting.WatchDevices(*this, now);
        if (deadline && (!wake || *deadline < *wake))
            wake = deadline;
        std::optional<TWaitResult> taken;
        TOsError error = NoError;
        if (waiting.FallAsleep(taken) && !taken) {
            if (deadline && now >= *deadline)
                taken = TWaitResult{WAIT_TIMEOUT, NoError};
            else
                error = PollUntil(waiting.fds, wake);
        }
        // Whatever woke us (an event, a readable device, a deadline, a
        // change to what to watch) is looked at in the next round.
        waiting.Leave();
        if (taken)
            return *taken;
        if (error != NoError)
            return {WAIT_FAILED, error};
    }
}

} // namespace Comm
