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

TOsError TLinuxCommLayer::CreateEventObject(bool manualReset, bool initialState, THandle& handle)
{
    auto event = std::make_shared<Event>();
    event->manualReset = manualReset;
    event->signalled = initialState;
    handle = events_.Add(std::move(event), NewSerial());
    return handle == InvalidHandle ? ENFILE : NoError;
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
// thread's wake-up). The thread registers on its events and devices once and
// stays registered while it looks again after each poll; it leaves them when
// the wait ends. Kept per thread, so that a wait allocates nothing once the
// thread has waited before.
struct TLinuxCommLayer::Waiting {
    TWakeup wakeup;
    std::vector<std::shared_ptr<Event>> events;
    std::vector<std::uint64_t> bindings;
    // The devices of this round, and those this thread is registered on
    // with what their last poll reported.
    std::vector<std::shared_ptr<Device>> devices;
    std::vector<std::shared_ptr<Device>> watched;
    std::vector<short> reported;
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
    // Keeps what the poll reported for the next look.
    void Woken();
    // Leaves every event and device.
    void Leave(TLinuxCommLayer& layer);
    void LeaveDevice(TLinuxCommLayer& layer, std::size_t index);
};

namespace {

// Takes a signalled event: an auto-reset one goes to exactly one waiter.
template <typename Event>
TWaitResult Take(Event& event, std::size_t index)
{
    if (!event.manualReset)
        event.signalled = false;
    return TWaitResult{static_cast<std::uint32_t>(WaitObject0 + index), NoError};
}

template <typename T>
std::size_t IndexOf(const std::vector<T>& items, const T& item)
{
    return static_cast<std::size_t>(std::find(items.begin(), items.end(), item) - items.begin());
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
        if (device && IndexOf(devices, device) == devices.size())
            devices.push_back(std::move(device));
    }
    return std::nullopt;
}

std::optional<TLinuxCommLayer::Clock::time_point> TLinuxCommLayer::Waiting::WatchDevices(TLinuxCommLayer& layer,
                                                                                        Clock::time_point now)
{
    // Devices no longer bound to a waited event are left first.
    for (std::size_t w = watched.size(); w-- > 0;) {
        if (IndexOf(devices, watched[w]) == devices.size())
            LeaveDevice(layer, w);
    }
    // Operations bound to the waited events complete in place: this thread
    // reads their device itself, when its last poll found it readable.
    std::optional<Clock::time_point> wake;
    fds.clear();
    for (const std::shared_ptr<Device>& shared : devices) {
        Device& device = *shared;
        std::lock_guard lock(device.mutex);
        const std::size_t w = IndexOf(watched, shared);
        if (w == watched.size()) {
            device.watchers.push_back(&wakeup);
            // The service thread steps back for a watcher.
            if (device.serviceWatching)
                device.serviceWakeup->Wake();
            watched.push_back(shared);
            reported.push_back(0);
        } else if (reported[w] & (POLLIN | POLLHUP | POLLERR)) {
            device.readable = true;
        }
        reported[w] = 0;
        short watch = 0;
        if (!device.closed) {
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
        if (i == asleepOn) {
            event.sleepers.push_back(&wakeup);
            ++asleepOn;
        }
    }
    return true;
}

void TLinuxCommLayer::Waiting::Woken()
{
    for (std::size_t d = 0; d < devices.size(); ++d)
        reported[IndexOf(watched, devices[d])] |= fds[d].revents;
    wakeup.Awake((fds.back().revents & POLLIN) != 0);
}

void TLinuxCommLayer::Waiting::LeaveDevice(TLinuxCommLayer& layer, std::size_t index)
{
    const std::shared_ptr<Device>& device = watched[index];
    {
        std::lock_guard lock(device->mutex);
        if (reported[index] & (POLLIN | POLLHUP | POLLERR))
            device->readable = true;
        layer.LeaveWatch(device, wakeup);
    }
    watched.erase(watched.begin() + static_cast<std::ptrdiff_t>(index));
    reported.erase(reported.begin() + static_cast<std::ptrdiff_t>(index));
}

void TLinuxCommLayer::Waiting::Leave(TLinuxCommLayer& layer)
{
    for (std::size_t i = 0; i < asleepOn; ++i) {
        Event& event = *events[i];
        std::lock_guard lock(event.mutex);
        const auto found = std::find(event.sleepers.begin(), event.sleepers.end(), &wakeup);
        if (found != event.sleepers.end())
            event.sleepers.erase(found);
    }
    while (!watched.empty())
        LeaveDevice(layer, watched.size() - 1);
    // A wake-up that came after the last poll is not carried into the next wait.
    wakeup.Awake(false);
    events.clear();
    bindings.clear();
    devices.clear();
    fds.clear();
    asleepOn = 0;
}

TWaitResult TLinuxCommLayer::WaitForMultipleObjects(std::span<const THandle> handles, std::uint32_t timeoutMs)
{
    std::optional<Clock::time_point> deadline;
    if (timeoutMs != Infinite)
        deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    thread_local Waiting waiting;
    struct Left {
        TLinuxCommLayer& layer;
        ~Left() { waiting.Leave(layer); }
    } left{*this};
    if (!waiting.wakeup.Valid())
        return {WaitFailed, EMFILE};
    for (const THandle handle : handles) {
        std::shared_ptr<Event> event = FindEvent(handle);
        if (!event)
            return {WaitFailed, EBADF};
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
        if (!waiting.FallAsleep(taken))
            continue;
        if (taken)
            return *taken;
        if (deadline && now >= *deadline)
            return {WaitTimeout, NoError};
        if (waiting.wakeup.FallingAsleep()) {
            if (const TOsError error = PollUntil(waiting.fds, wake))
                return {WaitFailed, error};
        }
        // Whatever woke us (an event, a readable device, a deadline, a
        // change to what to watch) is looked at in the next round.
        waiting.Woken();
    }
}

} // namespace Comm
