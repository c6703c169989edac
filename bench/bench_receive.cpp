// The receive path against its peers, in one run on the same pseudo-terminal
// set-up:
//  - latency of one-byte events, from the byte written on the far end to the
//    application holding it, where every receiver reads what it is told of
//    (our OnRxChar calls Read for the announced count);
//  - bulk receiving: 32 MiB in 64 KiB writes from a separate process, with the
//    CPU the receiving process spent and the rate.
// Peers run interleaved over three rounds; pin the process to one CPU
// (bench/run-receive does) to compare software paths rather than thread
// placement. "--probe N" instead runs N paced one-byte events through our
// port under smNone, "--probe-floor N" through the floor reader, for
// bench/syscalls-per-event and bench/instructions-per-event.
#include "BenchPty.h"
#include "ComErrors.h"
#include "ComPort.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

using Clock = std::chrono::steady_clock;
// Many short rounds: the machine's state drifts over seconds, and a ratio
// taken within one round compares peers under the same conditions.
constexpr int Rounds = 10;
constexpr int EventsPerRound = 3000;
constexpr int BulkRounds = 3;
constexpr std::size_t BulkTotal = 32u << 20;
constexpr std::size_t BulkWrite = 64u << 10;

// The receiving side's moment of holding the byte, handed to the driver.
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

// Writes one byte at a time and waits for the receiving side to hold it.
std::vector<double> Drive(int master, Handoff& handoff, int events)
{
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(events));
    for (int i = 0; i < events; ++i) {
        const Clock::time_point sent = Clock::now();
        if (::write(master, "x", 1) != 1)
            break;
        const Clock::time_point seen = handoff.Wait();
        micros.push_back(std::chrono::duration<double, std::micro>(seen - sent).count());
    }
    return micros;
}

// Drives from a thread of its own while this thread runs its event loop,
// where main-loop receivers and synchronised handlers run.
std::vector<double> DriveOnEventLoop(int master, Handoff& handoff, int events)
{
    std::vector<double> micros;
    std::thread driver([&] {
        micros = Drive(master, handoff, events);
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    driver.join();
    return micros;
}

// ---- Latency peers ------------------------------------------------------------

std::vector<double> FloorLatency(int events)
{
    BenchPty pty;
    const int fd = pty.OpenRawSlave();
    Handoff handoff;
    std::thread reader([&] {
        char buffer[64];
        for (int i = 0; i < events; ++i) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, -1);
            if (::read(fd, buffer, sizeof buffer) <= 0)
                break;
            handoff.Arrive();
        }
    });
    std::vector<double> micros = Drive(pty.master, handoff, events);
    reader.join();
    ::close(fd);
    return micros;
}

std::vector<double> PollThreadBlockingQueued(int events)
{
    BenchPty pty;
    const int fd = pty.OpenRawSlave();
    Handoff handoff;
    QObject receiver;
    std::thread reader([&] {
        char buffer[64];
        for (int i = 0; i < events; ++i) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, -1);
            if (::read(fd, buffer, sizeof buffer) <= 0)
                break;
            QMetaObject::invokeMethod(&receiver, [&] { handoff.Arrive(); }, Qt::BlockingQueuedConnection);
        }
    });
    std::vector<double> micros = DriveOnEventLoop(pty.master, handoff, events);
    reader.join();
    ::close(fd);
    return micros;
}

bool OpenQtSerial(QSerialPort& serial, const std::string& path)
{
    serial.setPortName(QString::fromStdString(path));
    if (!serial.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "Qt serial port: %s\n", qPrintable(serial.errorString()));
        return false;
    }
    return true;
}

std::vector<double> QtSerialMainLoop(int events)
{
    BenchPty pty;
    Handoff handoff;
    QSerialPort serial;
    if (!OpenQtSerial(serial, pty.path))
        return {};
    QObject::connect(&serial, &QSerialPort::readyRead, [&] {
        serial.readAll();
        handoff.Arrive();
    });
    return DriveOnEventLoop(pty.master, handoff, events);
}

std::vector<double> QtSerialWorkerToMain(int events)
{
    BenchPty pty;
    Handoff handoff;
    QObject mainReceiver;
    QThread worker;
    QObject inWorker;
    inWorker.moveToThread(&worker);
    worker.start();
    QSerialPort* serial = nullptr;
    QMetaObject::invokeMethod(
        &inWorker,
        [&] {
            serial = new QSerialPort;
            if (!OpenQtSerial(*serial, pty.path))
                return;
            QObject::connect(serial, &QSerialPort::readyRead, [&] {
                serial->readAll();
                QMetaObject::invokeMethod(&mainReceiver, [&] { handoff.Arrive(); }, Qt::BlockingQueuedConnection);
            });
        },
        Qt::BlockingQueuedConnection);
    std::vector<double> micros = serial && serial->isOpen() ? DriveOnEventLoop(pty.master, handoff, events)
                                                            : std::vector<double>{};
    QMetaObject::invokeMethod(&inWorker, [&] { delete serial; }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
    return micros;
}

void Quiet(TCustomComPort& port)
{
    port.OnException = [](TCustomComPort*, TComErrorCode, const QString& message, std::int64_t, const QString&) {
        std::fprintf(stderr, "port: %s\n", qPrintable(message));
    };
}

std::vector<double> OursLatency(TSyncMethod method, int events)
{
    BenchPty pty;
    TCustomComPort port;
    port.SetPortName(QString::fromStdString(pty.path));
    port.SetSyncMethod(method);
    port.SetEvents({evRxChar});
    Quiet(port);
    Handoff handoff;
    std::vector<char> buffer(4096);
    port.OnRxChar = [&](TCustomComPort* sender, std::int32_t count) {
        sender->Read(buffer.data(), std::min<std::int32_t>(count, static_cast<std::int32_t>(buffer.size())));
        handoff.Arrive();
    };
    port.Open();
    std::vector<double> micros = DriveOnEventLoop(pty.master, handoff, events);
    port.Close();
    return micros;
}

// ---- Bulk peers ------------------------------------------------------------------

struct Bulk {
    double cpuMs = 0;
    double mbPerSecond = 0;
    bool complete = false;
};

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A separate process writes the volume, so that this process's CPU time is
// the receiving side's alone.
pid_t StartWriter(int master)
{
    const pid_t child = ::fork();
    if (child == 0) {
        static char block[BulkWrite];
        std::memset(block, 'x', sizeof block);
        std::size_t sent = 0;
        while (sent < BulkTotal) {
            const ssize_t n = ::write(master, block, std::min(sizeof block, BulkTotal - sent));
            if (n <= 0)
                ::_exit(1);
            sent += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    return child;
}

// Runs receive (which returns the bytes taken) against a writer process.
Bulk MeasureBulk(int master, const std::function<std::size_t()>& receive)
{
    const double cpuBefore = CpuSeconds();
    const Clock::time_point start = Clock::now();
    const pid_t writer = StartWriter(master);
    const std::size_t received = receive();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Bulk result;
    result.cpuMs = (CpuSeconds() - cpuBefore) * 1000;
    result.mbPerSecond = static_cast<double>(received) / seconds / 1e6;
    result.complete = received == BulkTotal;
    int status = 0;
    ::waitpid(writer, &status, 0);
    return result;
}

Bulk FloorBulk()
{
    BenchPty pty;
    const int fd = pty.OpenRawSlave();
    const Bulk result = MeasureBulk(pty.master, [&] {
        std::vector<char> buffer(BulkWrite);
        std::size_t received = 0;
        while (received < BulkTotal) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, -1);
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n <= 0)
                break;
            received += static_cast<std::size_t>(n);
        }
        return received;
    });
    ::close(fd);
    return result;
}

Bulk QtSerialBulk()
{
    BenchPty pty;
    QSerialPort serial;
    if (!OpenQtSerial(serial, pty.path))
        return {};
    std::size_t received = 0;
    QObject::connect(&serial, &QSerialPort::readyRead, [&] {
        received += static_cast<std::size_t>(serial.readAll().size());
        if (received >= BulkTotal)
            QCoreApplication::quit();
    });
    return MeasureBulk(pty.master, [&] {
        QCoreApplication::exec();
        return received;
    });
}

Bulk OursBulk(TSyncMethod method, std::int32_t queueSize)
{
    BenchPty pty;
    TCustomComPort port;
    port.SetPortName(QString::fromStdString(pty.path));
    port.SetSyncMethod(method);
    port.SetEvents({evRxChar});
    port.Buffer().SetInputSize(queueSize);
    Quiet(port);
    std::vector<char> buffer(1 << 20);
    std::atomic<std::size_t> received{0};
    port.OnRxChar = [&](TCustomComPort* sender, std::int32_t count) {
        const std::int32_t n =
            sender->Read(buffer.data(), std::min<std::int32_t>(count, static_cast<std::int32_t>(buffer.size())));
        if (received.fetch_add(static_cast<std::size_t>(std::max(n, 0))) + static_cast<std::size_t>(std::max(n, 0)) >=
            BulkTotal)
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    };
    port.Open();
    const Bulk result = MeasureBulk(pty.master, [&] {
        QCoreApplication::exec();
        return received.load();
    });
    port.Close();
    return result;
}

// ---- Reporting -------------------------------------------------------------------

struct Figures {
    double median = 0, p90 = 0, p99 = 0;
};

Figures Summarise(std::vector<double> micros)
{
    if (micros.empty())
        return {};
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) { return micros[static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1))]; };
    return {at(0.5), at(0.9), at(0.99)};
}

int Probe(int events)
{
    // Paced one-byte events through our port under smNone; the handler reads
    // what it is told of and only counts, so the event thread's system calls
    // are the receive path's alone.
    BenchPty pty;
    TCustomComPort port;
    port.SetPortName(QString::fromStdString(pty.path));
    port.SetSyncMethod(smNone);
    port.SetEvents({evRxChar});
    Quiet(port);
    std::atomic<int> handled{0};
    std::atomic<int> bytes{0};
    char buffer[64];
    port.OnRxChar = [&](TCustomComPort* sender, std::int32_t count) {
        bytes += sender->Read(buffer, std::min<std::int32_t>(count, sizeof buffer));
        ++handled;
    };
    port.Open();
    for (int i = 0; i < events; ++i) {
        if (::write(pty.master, "x", 1) != 1)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    while (bytes.load() < events)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    port.Close();
    std::printf("probe: %d events, %d bytes\n", handled.load(), bytes.load());
    return 0;
}

// The floor's receiving loop on its own, for counting its instructions:
// poll, then read what is there, until count bytes came. Returns the reads.
[[gnu::noinline]] int FloorReaderLoop(int fd, int count)
{
    char buffer[64];
    int reads = 0;
    for (int got = 0; got < count; ++reads) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, -1);
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got += static_cast<int>(n);
    }
    return reads;
}

int ProbeFloor(int events)
{
    BenchPty pty;
    const int fd = pty.OpenRawSlave();
    int reads = 0;
    std::thread reader([&] { reads = FloorReaderLoop(fd, events); });
    for (int i = 0; i < events; ++i) {
        if (::write(pty.master, "x", 1) != 1)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    reader.join();
    ::close(fd);
    std::printf("probe: %d events, %d bytes\n", reads, events);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    InitPortErrorMessages();
    QCoreApplication application(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0)
        return Probe(std::atoi(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "--probe-floor") == 0)
        return ProbeFloor(std::atoi(argv[2]));

    struct LatencyPeer {
        const char* name;
        std::function<std::vector<double>(int)> run;
        std::vector<double> samples;
        std::vector<Figures> rounds;
    };
    std::vector<LatencyPeer> latency = {
        {"floor: poll() then read() thread", FloorLatency, {}, {}},
        {"Qt serial port, readyRead on the main loop", QtSerialMainLoop, {}, {}},
        {"poll thread + blocking queued call", PollThreadBlockingQueued, {}, {}},
        {"Qt serial port in a worker, blocking to main", QtSerialWorkerToMain, {}, {}},
        {"ours, smNone", [](int n) { return OursLatency(smNone, n); }, {}, {}},
        {"ours, smThreadSync", [](int n) { return OursLatency(smThreadSync, n); }, {}, {}},
        {"ours, smWindowSync", [](int n) { return OursLatency(smWindowSync, n); }, {}, {}},
    };
    struct BulkPeer {
        const char* name;
        std::function<Bulk()> run;
        std::vector<Bulk> rounds;
    };
    std::vector<BulkPeer> bulk = {
        {"floor: poll() then read() 64 KiB", FloorBulk, {}},
        {"Qt serial port, readAll on the main loop", QtSerialBulk, {}},
        {"ours, smNone, OnRxChar + Read, 64 KiB queue", [] { return OursBulk(smNone, 64 << 10); }, {}},
        {"ours, smNone, OnRxChar + Read, 1 KiB queue", [] { return OursBulk(smNone, 1024); }, {}},
        {"ours, smThreadSync, OnRxChar + Read, 64 KiB", [] { return OursBulk(smThreadSync, 64 << 10); }, {}},
    };

    for (int round = 1; round <= Rounds; ++round) {
        std::fprintf(stderr, "round %d of %d\n", round, Rounds);
        for (LatencyPeer& peer : latency) {
            std::vector<double> micros = peer.run(EventsPerRound);
            peer.rounds.push_back(Summarise(micros));
            std::fprintf(stderr, "  %-46s median %6.1f us\n", peer.name, peer.rounds.back().median);
            peer.samples.insert(peer.samples.end(), micros.begin(), micros.end());
        }
        if (round <= BulkRounds) {
            for (BulkPeer& peer : bulk)
                peer.rounds.push_back(peer.run());
        }
    }

    std::printf("Latency of one-byte events, %d events x %d rounds (us)\n", EventsPerRound, Rounds);
    std::printf("%-46s %8s %8s %8s\n", "path", "median", "p90", "p99");
    for (const LatencyPeer& peer : latency) {
        const Figures f = Summarise(peer.samples);
        std::printf("%-46s %8.1f %8.1f %8.1f%s\n", peer.name, f.median, f.p90, f.p99,
                    peer.samples.size() == std::size_t{EventsPerRound} * Rounds ? "" : "  (incomplete)");
    }

    std::printf("\nBulk receive, 32 MiB in 64 KiB writes (median of %d rounds)\n", BulkRounds);
    std::printf("%-46s %12s %8s\n", "path", "CPU ms", "MB/s");
    std::map<std::string, const BulkPeer*> bulkByName;
    for (BulkPeer& peer : bulk) {
        bulkByName[peer.name] = &peer;
        std::vector<Bulk> sorted = peer.rounds;
        std::sort(sorted.begin(), sorted.end(), [](const Bulk& a, const Bulk& b) { return a.cpuMs < b.cpuMs; });
        const Bulk& median = sorted[sorted.size() / 2];
        const bool complete = std::all_of(peer.rounds.begin(), peer.rounds.end(), [](const Bulk& b) { return b.complete; });
        std::printf("%-46s %12.1f %8.1f%s\n", peer.name, median.cpuMs, median.mbPerSecond, complete ? "" : "  (incomplete)");
    }

    // Each ratio is taken within a round, then the median over the rounds.
    std::map<std::string, const LatencyPeer*> byName;
    for (const LatencyPeer& peer : latency)
        byName[peer.name] = &peer;
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    auto latencyRatio = [&](const char* a, const char* b, double Figures::*field) {
        std::vector<double> ratios;
        for (int r = 0; r < Rounds; ++r)
            ratios.push_back(byName[a]->rounds[static_cast<std::size_t>(r)].*field /
                             byName[b]->rounds[static_cast<std::size_t>(r)].*field);
        return median(ratios);
    };
    auto cpuRatio = [&](const char* a, const char* b) {
        std::vector<double> ratios;
        for (int r = 0; r < BulkRounds; ++r)
            ratios.push_back(bulkByName[a]->rounds[static_cast<std::size_t>(r)].cpuMs /
                             bulkByName[b]->rounds[static_cast<std::size_t>(r)].cpuMs);
        return median(ratios);
    };
    const char* floorName = "floor: poll() then read() thread";
    const char* queuedName = "poll thread + blocking queued call";
    const char* oursBulk = "ours, smNone, OnRxChar + Read, 64 KiB queue";
    // Pooled: the figures of all rounds together. Per round: the median of
    // the ratios taken within each round. On a virtual machine whose idle
    // vCPU takes tens of microseconds to wake, a round falls into a fast or
    // a slow mode as a whole; the two views differ when that happens.
    auto pooled = [&](const char* a, const char* b, double Figures::*field) {
        return Summarise(byName[a]->samples).*field / Summarise(byName[b]->samples).*field;
    };
    std::printf("\nTargets                              pooled  per round\n");
    auto latencyTarget = [&](const char* label, const char* a, const char* b, double Figures::*field,
                             const char* target) {
        std::printf("%-36s %6.2f  %6.2f    (target %s)\n", label, pooled(a, b, field), latencyRatio(a, b, field), target);
    };
    latencyTarget("smNone median / floor median", "ours, smNone", floorName, &Figures::median, "<= 1.15");
    latencyTarget("smNone p99 / floor p99", "ours, smNone", floorName, &Figures::p99, "<= 1.20");
    latencyTarget("smThreadSync / poll + blocking call", "ours, smThreadSync", queuedName, &Figures::median, "<= 1.00");
    latencyTarget("smWindowSync / smThreadSync", "ours, smWindowSync", "ours, smThreadSync", &Figures::median,
                  "<= 1.10");
    std::printf("%-36s         %6.2f    (target <= 1.30)\n", "bulk CPU ours / floor",
                cpuRatio(oursBulk, "floor: poll() then read() 64 KiB"));
    std::printf("%-36s         %6.2f    (target <= 1.00)\n", "bulk CPU ours / Qt serial port",
                cpuRatio(oursBulk, "Qt serial port, readAll on the main loop"));
    return 0;
}
