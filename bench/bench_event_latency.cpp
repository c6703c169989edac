// Latency from a byte written to a pseudo-terminal's other end to OnRxChar
// running, for each delivery method, against a bare poll() and read() thread.
// Median and 99th percentile over 10,000 events each.
#include "BenchPty.h"
#include "ComErrors.h"
#include "ComPort.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Events = 10000;

struct Handoff {
    std::mutex mutex;
    std::condition_variable seen;
    bool arrived = false;
    Clock::time_point at;

    void Arrive()
    {
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(mutex);
        at = now;
        arrived = true;
        seen.notify_one();
    }
    Clock::time_point Wait()
    {
        std::unique_lock lock(mutex);
        seen.wait(lock, [&] { return arrived; });
        arrived = false;
        return at;
    }
};

void Report(const char* what, std::vector<double>& micros)
{
    std::sort(micros.begin(), micros.end());
    std::printf("%-14s median %7.1f us   p99 %7.1f us   (%zu events)\n", what, micros[micros.size() / 2],
                micros[micros.size() * 99 / 100], micros.size());
}

// Writes one byte at a time and waits for the receiving side to see it.
std::vector<double> Drive(int master, Handoff& handoff)
{
    std::vector<double> micros;
    micros.reserve(Events);
    for (int i = 0; i < Events; ++i) {
        const Clock::time_point sent = Clock::now();
        if (::write(master, "x", 1) != 1)
            break;
        const Clock::time_point seen = handoff.Wait();
        micros.push_back(std::chrono::duration<double, std::micro>(seen - sent).count());
    }
    return micros;
}

// Drives from a thread of its own while this thread runs its event loop,
// where synchronised handlers run.
std::vector<double> DriveOnEventLoop(int master, Handoff& handoff)
{
    std::vector<double> micros;
    std::thread driver([&] {
        micros = Drive(master, handoff);
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    driver.join();
    return micros;
}

void BarePoll()
{
    BenchPty pty;
    const int fd = pty.OpenRawSlave();
    Handoff handoff;
    std::thread reader([&] {
        char byte;
        for (int i = 0; i < Events; ++i) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, -1);
            handoff.Arrive();
            if (::read(fd, &byte, 1) != 1)
                break;
        }
    });
    std::vector<double> micros = Drive(pty.master, handoff);
    reader.join();
    ::close(fd);
    Report("bare poll", micros);
}

// The reference for a hand-off to the GUI thread: a reader thread that wakes
// on the device and makes a blocking queued call to the GUI thread.
void QtBlockingQueued()
{
    BenchPty pty;
    const int fd = pty.OpenRawSlave();
    Handoff handoff;
    QObject receiver;
    std::thread reader([&] {
        char byte;
        for (int i = 0; i < Events; ++i) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, -1);
            if (::read(fd, &byte, 1) != 1)
                break;
            QMetaObject::invokeMethod(&receiver, [&] { handoff.Arrive(); }, Qt::BlockingQueuedConnection);
        }
    });
    std::vector<double> micros = DriveOnEventLoop(pty.master, handoff);
    reader.join();
    ::close(fd);
    Report("Qt blocking", micros);
}

void ThroughPort(TSyncMethod method, const char* name)
{
    BenchPty pty;
    TCustomComPort port;
    port.SetPort(QString::fromStdString(pty.path));
    port.SetSyncMethod(method);
    port.SetEvents({evRxChar});
    port.OnException = [](TCustomComPort*, TComErrorCode, const QString&, std::int64_t, const QString&) {};
    Handoff handoff;
    // The handler only takes note: the bytes stay queued (the queue is large
    // enough for all of them), so the figure is the delivery alone.
    port.Buffer().SetInputSize(1 << 20);
    port.OnRxChar = [&](TCustomComPort*, std::int32_t) { handoff.Arrive(); };
    port.Open();
    std::vector<double> micros = DriveOnEventLoop(pty.master, handoff);
    port.Close();
    Report(name, micros);
}

} // namespace

int main(int argc, char** argv)
{
    InitPortErrorMessages();
    QCoreApplication application(argc, argv);
    BarePoll();
    QtBlockingQueued();
    ThroughPort(smNone, "smNone");
    ThroughPort(smThreadSync, "smThreadSync");
    ThroughPort(smWindowSync, "smWindowSync");
    return 0;
}
