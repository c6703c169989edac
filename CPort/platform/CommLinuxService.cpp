// The Linux backend's care of an open device beyond the calls made on it: who
// watches it, the service thread that drives what nobody watches, and the end
// of a device when its handle is closed.
#include "CommLinux.h"

#include "CommLinuxSupport.h"

#include <algorithm>
#include <system_error>

#include <sys/ioctl.h>
#include <termios.h>

namespace Comm {

TOsError PollUntil(std::span<pollfd> fds, std::optional<std::chrono::steady_clock::time_point> deadline)
{
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (deadline) {
        const auto left = std::max(std::chrono::steady_clock::duration::zero(),
                                   *deadline - std::chrono::steady_clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
        timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        timeoutPointer = &timeout;
    }
    if (::ppoll(fds.data(), fds.size(), timeoutPointer, nullptr) >= 0)
        return NoError;
    const TOsError error = LastError();
    for (pollfd& p : fds)
        p.revents = 0;
    return error == EINTR ? NoError : error;
}

// ---- Watchers -----------------------------------------------------------------

void TLinuxCommLayer::WakeWatchers(Device& device)
{
    for (TWakeup* watcher : device.watchers)
        watcher->Wake();
    if (device.serviceWatching)
        device.serviceWakeup->Wake();
}

void TLinuxCommLayer::OperationStarted(const std::shared_ptr<Device>& device)
{
    // A new operation may need more watched (room to write) or sooner (its
    // deadline): whoever watches looks again.
    WakeWatchers(*device);
    DriveUnwatched(device);
}

void TLinuxCommLayer::DriveUnwatched(const std::shared_ptr<Device>& device)
{
    if (device->closed || (device->reads.empty() && device->writes.empty()))
        return;
    // The service thread runs while anything is pending, watched or not: a
    // watcher may stop watching at any time (a handler runs, its thread
    // ends), and the operation must go on without it.
    // It steps back while a watcher drives the device, and the last watcher
    // to leave wakes it.
    if (device->serviceRunning) {
        if (device->watchers.empty())
            device->serviceWakeup->Wake();
        return;
    }
    // One that ended after a failed poll only has to return: it released the
    // lock before it did.
    if (device->service.joinable())
        device->service.join();
    try {
        device->service = std::thread([this, device] { ServeDevice(device); });
        device->serviceRunning = true;
    } catch (const std::system_error&) {
        // No thread to be had: the operation still progresses whenever its
        // event is waited on or its result asked for, and the next start or
        // watcher leaving tries again.
    }
}

void TLinuxCommLayer::LeaveWatch(const std::shared_ptr<Device>& device, TWakeup& watcher)
{
    const auto found = std::find(device->watchers.begin(), device->watchers.end(), &watcher);
    if (found == device->watchers.end())
        return;
    device->watchers.erase(found);
    if (!device->watchers.empty())
        return;
    device->watchersLeft.notify_all();
    // Reads and writes nobody watches any more go to the service thread.
    DriveUnwatched(device);
}

short TLinuxCommLayer::WatchFor(Device& device)
{
    // A full receive queue is left to the kernel's buffer until it is read:
    // watching the device then would only spin.
    device.watchPaused = device.rx.Room() == 0;
    if (device.lost != NoError || device.closed)
        return 0;
    short watch = 0;
    if (!device.watchPaused)
        watch |= POLLIN;
    if (!device.writes.empty())
        watch |= POLLOUT;
    return watch;
}

void TLinuxCommLayer::ServeDevice(const std::shared_ptr<Device>& shared)
{
    Device& device = *shared;
    TWakeup& wakeup = *device.serviceWakeup;
    std::unique_lock lock(device.mutex);
    for (TOsError error = NoError; !device.closed && error == NoError;) {
        // Served only while no other thread watches: a watcher drives the
        // device as it waits, and two would only wake each other. A watcher
        // that leaves wakes this thread.
        const bool serve = device.watchers.empty() && (!device.reads.empty() || !device.writes.empty());
        std::optional<Clock::time_point> wake;
        pollfd fds[2] = {{-1, 0, 0}, {wakeup.Fd(), POLLIN, 0}};
        if (serve) {
            Pump(device, Clock::now(), true);
            wake = NextDeadline(device);
            const short watch = WatchFor(device);
            fds[0] = pollfd{watch != 0 ? device.fd.Get() : -1, watch, 0};
        }
        device.serviceWatching = serve;
        lock.unlock();
        error = wakeup.FallingAsleep() ? PollUntil(fds, wake) : NoError;
        lock.lock();
        device.serviceWatching = false;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
            device.readable = true;
        wakeup.Awake((fds[1].revents & POLLIN) != 0);
    }
    // A poll that failed ends the thread; the next operation or watcher
    // leaving starts another.
    device.serviceRunning = false;
}

// ---- Closing --------------------------------------------------------------------

TLinuxCommLayer::DeviceThreads TLinuxCommLayer::TakeThreads(Device& device)
{
    DeviceThreads threads;
    threads.modem = std::move(device.modemWatch);
    threads.drain = std::move(device.drainWatch);
    threads.brk = std::move(device.breakWatch);
    threads.service = std::move(device.service);
    device.drainRunning = false;
    ++device.drainNumber;
    device.serviceWakeup->Wake();
    WakeWatchers(device);
    return threads;
}

TLinuxCommLayer::DeviceThreads::~DeviceThreads()
{
    // Each thread takes the device's lock to report, so this runs with the
    // lock released.
    modem.reset();
    drain.reset();
    brk.reset();
    if (service.joinable())
        service.join();
}

void TLinuxCommLayer::EndDevice(Device& device)
{
    std::unique_lock lock(device.mutex);
    {
        const DeviceThreads threads = TakeThreads(device);
        lock.unlock();
    }
    lock.lock();
    // A thread asleep in poll on the device holds its open file, and with it
    // the exclusive lock: the descriptor is closed once every watcher is out.
    device.watchersLeft.wait(lock, [&] { return device.watchers.empty(); });
    const int fd = device.fd.Get();
    lock.unlock();
    // Nothing else uses the descriptor any more.
    DrainBeforeClose(fd);
    // Exclusive mode is the terminal's and outlives this descriptor while
    // another one is open (a modem line's watcher, a test's far end): left
    // set, the port would read as someone else's at its next open.
    ::ioctl(fd, TIOCNXCL);
    lock.lock();
    device.fd.Reset();
}

bool TLinuxCommLayer::TransmitterEmpty(int fd)
{
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0)
        return false;
    // A UART's driver tells whether the last character has left the shift
    // register; its queue empties as soon as the bytes are in the FIFO.
    // Pseudo-terminals and many USB adapters do not tell.
    unsigned int lineStatus = 0;
    if (::ioctl(fd, TIOCSERGETLSR, &lineStatus) == 0)
        return (lineStatus & TIOCSER_TEMT) != 0;
    return true;
}

void TLinuxCommLayer::DrainBeforeClose(int fd)
{
    if (TransmitterEmpty(fd))
        return;
    std::mutex mutex;
    std::condition_variable drained;
    bool done = false;
    auto outputQueued = [fd] {
        int queued = 0;
        return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
    };
    TInterruptibleWait drain([fd] { return ::tcdrain(fd) == 0 || errno != EINTR ? 0 : -1; },
                             [&] {
                                 std::lock_guard lock(mutex);
                                 done = true;
                                 drained.notify_all();
                                 return false;
                             });
    // Output that moves is let out; output the line holds back (flow
    // control, a far end that does not read) is discarded once it has not
    // moved for half a second, or the driver's own close would wait for it.
    std::unique_lock lock(mutex);
    for (int last = outputQueued();;) {
        if (drained.wait_for(lock, std::chrono::milliseconds(500), [&] { return done; }))
            return;
        const int now = outputQueued();
        if (now >= last) {
            ::tcflush(fd, TCOFLUSH);
            return;
        }
        last = now;
    }
}

} // namespace Comm
