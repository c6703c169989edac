// The Linux backend's overlapped operations over pseudo-terminals: they move
// on whoever waits (or nobody, whatever the event thread does), a thread
// already waiting learns of a new binding, counts see bytes nobody polled
// for, and a close ends every operation, however it races them, and frees
// the device at once.
#include "ApplicationException.h"
#include "ComPort.h"
#include "Journal.h"
#include "PtyPair.h"
#include "platform/CommLinux.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Comm;
using Clock = std::chrono::steady_clock;

namespace {

// The layer's handles, closed at the end of a test whatever happened.
struct LayerHandles {
    TCommLayer& layer = DefaultCommLayer();
    std::vector<THandle> handles;
    ~LayerHandles()
    {
        for (THandle h : handles)
            layer.CloseHandle(h);
    }
    THandle Open(const std::string& path)
    {
        THandle device = InvalidHandle;
        EXPECT_EQ(layer.CreateDevice(path, device), NoError) << path;
        handles.push_back(device);
        // A raw line: a terminal's own default keeps bytes until a newline.
        TDCB dcb{};
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = 115200;
        dcb.Flags = dcb_Binary;
        dcb.ByteSize = 8;
        dcb.Parity = NoParity;
        dcb.StopBits = OneStopBit;
        EXPECT_EQ(layer.SetCommState(device, dcb), NoError);
        return device;
    }
    THandle Event()
    {
        THandle event = InvalidHandle;
        EXPECT_EQ(layer.CreateEventObject(true, false, event), NoError);
        handles.push_back(event);
        return event;
    }
};

// Whether a thread sleeps in the kernel, from /proc: a test can so start
// something only once another thread is surely asleep.
bool WaitUntilAsleep(pid_t tid)
{
    const std::string stat = "/proc/self/task/" + std::to_string(tid) + "/stat";
    for (const Clock::time_point end = Clock::now() + std::chrono::seconds(5); Clock::now() < end;) {
        std::ifstream in(stat);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto state = text.find(") ");
        if (state != std::string::npos && text[state + 2] == 'S')
            return true;
        std::this_thread::yield();
    }
    return false;
}

// A port on the pty whose handlers run on its event thread.
void OnEventThread(TCustomComPort& port, const PtyPair& pty, TComEvent event)
{
    port.SetPortName(QString::fromStdString(pty.Path()));
    port.SetSyncMethod(smNone);
    port.SetEvents(TComEvents{event});
}

std::size_t DrainFarEnd(int master, std::size_t expected)
{
    std::size_t received = 0;
    std::vector<char> chunk(65536);
    while (received < expected) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            break;
        const ssize_t n = ::read(master, chunk.data(), chunk.size());
        if (n <= 0)
            break;
        received += static_cast<std::size_t>(n);
    }
    return received;
}

// The process's thread count, from a status file opened beforehand.
int ThreadCount(int statusFd)
{
    char text[4096] = {};
    if (::pread(statusFd, text, sizeof text - 1, 0) <= 0)
        return -1;
    const char* count = std::strstr(text, "Threads:");
    return count ? std::atoi(count + 8) : -1;
}

} // namespace

TEST(BackendProgress, AWriteNobodyWaitsForReachesTheFarEnd)
{
    PtyPair pty;
    LayerHandles h;
    const THandle device = h.Open(pty.Path());
    const THandle event = h.Event();
    // Far more than the driver holds: the rest must be handed on while the
    // caller does something else entirely (here: reading the far end).
    const std::string data(1 << 20, 'z');
    std::uint32_t written = 0;
    TOverlapped overlapped{};
    overlapped.hEvent = event;
    ASSERT_EQ(h.layer.WriteFile(device, data.data(), static_cast<std::uint32_t>(data.size()), written, overlapped),
              IoPending);
    EXPECT_EQ(DrainFarEnd(pty.Master(), data.size()), data.size());
    EXPECT_EQ(h.layer.WaitForMultipleObjects(std::span(&event, 1), 5000).Result, WaitObject0);
    EXPECT_EQ(h.layer.GetOverlappedResult(device, overlapped, written, false), NoError);
    EXPECT_EQ(written, data.size());
}

TEST(BackendProgress, TxEmptyComesWithoutWaitingForTheWrite)
{
    PtyPair pty;
    TCustomComPort port;
    OnEventThread(port, pty, evTxEmpty);
    TJournal journal;
    port.OnTxEmpty = [&](TCustomComPort*) { journal.Add("TxEmpty"); };
    OpenOnPty(port);
    const std::string data(1 << 20, 'z');
    PAsyncRecord record = nullptr;
    port.InitAsync(record);
    port.WriteAsync(data.data(), static_cast<std::int32_t>(data.size()), record);
    EXPECT_EQ(DrainFarEnd(pty.Master(), data.size()), data.size());
    EXPECT_TRUE(journal.WaitFor(1)) << "no OnTxEmpty without WaitForAsync";
    EXPECT_EQ(port.WaitForAsync(record), static_cast<std::int32_t>(data.size()));
    port.DoneAsync(record);
}

// A write started while the event thread watches goes on while a handler
// holds that thread, and after a handler's exception ended it.
TEST(BackendProgress, AWriteGoesOnWhateverTheEventThreadDoes)
{
    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "after the event thread ended" : "while a handler holds the event thread");
        // Outlives the port, which ends the write however the test ends.
        const std::string data(1 << 20, 'z');
        PtyPair pty;
        TJournal shown;
        struct Restored {
            TApplicationExceptionHandler previous;
            ~Restored() { SetApplicationExceptionHandler(previous); }
        } restored{SetApplicationExceptionHandler([&](QObject*, const char* message) { shown.Add(message); })};
        std::promise<pid_t> eventThread;
        std::promise<void> release;
        std::atomic<int> calls{0};
        std::atomic<bool> handlerLeft{false};
        TCustomComPort port;
        OnEventThread(port, pty, evRxChar);
        // The first OnRxChar gives the event thread's id, the second holds
        // that thread or ends it.
        port.OnRxChar = [&](TCustomComPort*, std::int32_t) {
            if (calls++ == 0)
                return eventThread.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
            if (throws)
                throw std::runtime_error("handler failed");
            shown.Add("held");
            release.get_future().wait_for(std::chrono::seconds(2));
            handlerLeft = true;
        };
        OpenOnPty(port);
        pty.Write("a");
        auto tid = eventThread.get_future();
        ASSERT_EQ(tid.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        ASSERT_TRUE(WaitUntilAsleep(tid.get())) << "the event thread does not watch the device";
        PAsyncRecord record = nullptr;
        port.InitAsync(record);
        port.WriteAsync(data.data(), static_cast<std::int32_t>(data.size()), record);
        pty.Write("b");
        ASSERT_TRUE(shown.WaitFor(1)) << "the second OnRxChar did not come";
        // Nobody waits for the write: it must still reach its last byte.
        EXPECT_EQ(DrainFarEnd(pty.Master(), data.size()), data.size());
        EXPECT_FALSE(handlerLeft) << "the write stood still while the handler ran";
        release.set_value();
        EXPECT_EQ(port.WaitForAsync(record), static_cast<std::int32_t>(data.size()));
        port.DoneAsync(record);
    }
}

TEST(BackendProgress, AServiceThreadWhosePollFailedIsReplaced)
{
    const std::string first(1 << 20, 'f'), second(1 << 16, 's');
    PtyPair pty;
    LayerHandles h;
    const THandle device = h.Open(pty.Path());
    // Whatever a first thread brings into being (a sanitizer's own thread)
    // is there before the threads are counted.
    std::thread([] {}).join();
    const int status = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(status, 0);
    const int threads = ThreadCount(status);

    // The service thread polls the device and its wake-up: more descriptors
    // than a limit of one allows, so its poll fails.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit one{1, limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &one), 0);
    std::uint32_t written = 0;
    TOverlapped overlapped{};
    overlapped.hEvent = h.Event();
    const TOsError started = h.layer.WriteFile(device, first.data(), static_cast<std::uint32_t>(first.size()),
                                               written, overlapped);
    bool ended = false;
    for (const Clock::time_point end = Clock::now() + std::chrono::seconds(5); !ended && Clock::now() < end;
         std::this_thread::yield())
        ended = ThreadCount(status) == threads;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::close(status);
    ASSERT_EQ(started, IoPending);
    ASSERT_TRUE(ended) << "the service thread's poll did not fail";

    // The next operation finds the thread gone and starts another.
    TOverlapped behind{};
    behind.hEvent = h.Event();
    ASSERT_EQ(h.layer.WriteFile(device, second.data(), static_cast<std::uint32_t>(second.size()), written, behind),
              IoPending);
    EXPECT_EQ(DrainFarEnd(pty.Master(), first.size() + second.size()), first.size() + second.size());
    for (const THandle event : {overlapped.hEvent, behind.hEvent})
        EXPECT_EQ(h.layer.WaitForMultipleObjects(std::span(&event, 1), 5000).Result, WaitObject0);
}

TEST(BackendProgress, AThreadAlreadyWaitingWatchesTheDeviceItsEventIsBoundTo)
{
    PtyPair pty;
    LayerHandles h;
    const THandle device = h.Open(pty.Path());
    const THandle event = h.Event();
    std::promise<pid_t> started;
    auto waited = std::async(std::launch::async, [&] {
        started.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
        const Clock::time_point begin = Clock::now();
        const TWaitResult result = h.layer.WaitForMultipleObjects(std::span(&event, 1), 20000);
        return std::make_pair(result.Result, Clock::now() - begin);
    });
    ASSERT_TRUE(WaitUntilAsleep(started.get_future().get()));

    char byte = 0;
    std::uint32_t read = 0;
    TOverlapped overlapped{};
    overlapped.hEvent = event;
    ASSERT_EQ(h.layer.ReadFile(device, &byte, 1, read, overlapped), IoPending);
    pty.Write("k");
    const auto [result, took] = waited.get();
    EXPECT_EQ(result, WaitObject0);
    EXPECT_LT(took, std::chrono::seconds(10)) << "woken only by its own timeout";
    EXPECT_EQ(byte, 'k');
}

TEST(BackendProgress, CountsInsideAHandlerSeeBytesNobodyPolledFor)
{
    PtyPair pty;
    TCustomComPort port;
    OnEventThread(port, pty, evRxChar);
    std::promise<std::int32_t> counted;
    std::atomic<bool> first{true};
    port.OnRxChar = [&](TCustomComPort* sender, std::int32_t) {
        if (!first.exchange(false))
            return;
        // The rest of a packet arrives while the handler polls the count,
        // with the event thread (the device's only watcher) busy here.
        pty.Write("def");
        std::int32_t count = 0;
        for (const Clock::time_point end = Clock::now() + std::chrono::seconds(5);
             (count = sender->InputCount()) < 6 && Clock::now() < end;)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        counted.set_value(count);
    };
    OpenOnPty(port);
    pty.Write("abc");
    auto count = counted.get_future();
    ASSERT_EQ(count.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(count.get(), 6);
    port.Close();
}

TEST(BackendProgress, AReadThatReturnsAtOnceTakesWhatIsQueuedBeyondAPendingRead)
{
    PtyPair pty;
    LayerHandles h;
    const THandle device = h.Open(pty.Path());
    const THandle event = h.Event();
    char first[4] = {};
    std::uint32_t read = 0;
    TOverlapped overlapped{};
    overlapped.hEvent = event;
    ASSERT_EQ(h.layer.ReadFile(device, first, sizeof first, read, overlapped), IoPending);
    ASSERT_EQ(h.layer.SetCommTimeouts(device, TCommTimeouts{MaxDword, 0, 0, 0, 0}), NoError);
    pty.Write("0123456789AB");

    // The bytes go to the pending read first and to the later one after it.
    std::string rest;
    for (const Clock::time_point end = Clock::now() + std::chrono::seconds(5);
         rest.size() < 8 && Clock::now() < end;) {
        char buffer[16];
        TOverlapped atOnce{};
        ASSERT_EQ(h.layer.ReadFile(device, buffer, sizeof buffer, read, atOnce), NoError);
        rest.append(buffer, read);
    }
    EXPECT_EQ(std::string(first, 4), "0123");
    EXPECT_EQ(rest, "456789AB");
}

// Every kind of operation, started on one thread while another closes the
// handle: it either fails to start, or completes (aborted) and says so; the
// device opens again the moment CloseHandle returns.
TEST(BackendProgress, ACloseRacingAnyOperationStrandsNothingAndFreesTheDevice)
{
    enum Kind { Read, Write, Wait };
    PtyPair pty;
    TCommLayer& layer = DefaultCommLayer();
    const std::string big(1 << 16, 'w');
    int stranded = 0, rounds = 0, reopenFailures = 0;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(3);
    for (; Clock::now() < end || rounds < 30; ++rounds) {
        const Kind kind = static_cast<Kind>(rounds % 3);
        THandle device = InvalidHandle, event = InvalidHandle;
        ASSERT_EQ(layer.CreateDevice(pty.Path(), device), NoError) << "round " << rounds;
        ASSERT_EQ(layer.CreateEventObject(true, false, event), NoError);
        layer.SetCommMask(device, EvRxChar);
        std::atomic<bool> go{false};
        auto operation = std::async(std::launch::async, [&] {
            char buffer[8];
            std::uint32_t done = 0, mask = 0;
            TOverlapped overlapped{};
            overlapped.hEvent = event;
            while (!go.load())
                std::this_thread::yield();
            TOsError started = NoError;
            switch (kind) {
            case Read: started = layer.ReadFile(device, buffer, sizeof buffer, done, overlapped); break;
            case Write:
                started = layer.WriteFile(device, big.data(), static_cast<std::uint32_t>(big.size()), done, overlapped);
                break;
            case Wait: started = layer.WaitCommEvent(device, mask, overlapped); break;
            }
            if (started != IoPending)
                return started == EBADF || started == NoError;
            if (layer.WaitForMultipleObjects(std::span(&event, 1), 5000).Result != WaitObject0)
                return false;
            return layer.GetOverlappedResult(device, overlapped, done, false) == OperationAborted;
        });
        go = true;
        EXPECT_EQ(layer.CloseHandle(device), NoError);
        THandle again = InvalidHandle;
        reopenFailures += layer.CreateDevice(pty.Path(), again) != NoError;
        layer.CloseHandle(again);
        stranded += !operation.get();
        layer.CloseHandle(event);
        tcflush(pty.Master(), TCIFLUSH);
    }
    EXPECT_EQ(stranded, 0) << "of " << rounds << " rounds";
    EXPECT_EQ(reopenFailures, 0) << "of " << rounds << " rounds";
}
