// The Linux backend under a real port, over pseudo-terminal pairs: opening,
// configuring, exclusivity (also after an open that failed), releasing
// descriptors, and reads with every timeout mode.
#include "ComPort.h"
#include "PtyPair.h"
#include "platform/CommLinux.h"
#include "platform/TermiosMapping.h"

#include <QElapsedTimer>

#include <span>

#include <cerrno>
#include <future>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>

using namespace Comm;

namespace {

TTermios2 ReadTermios(const std::string& path)
{
    // A second descriptor on the slave sees the settings of the line.
    TTermios2 tio{};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << "cannot reopen " << path;
    EXPECT_EQ(::ioctl(fd, _IOR('T', 0x2A, TTermios2), &tio), 0);
    ::close(fd);
    return tio;
}

class PortOnPty : public testing::Test {
protected:
    PortOnPty()
    {
        port.SetEvents({});
        port.SetPortName(QString::fromStdString(pty.Path()));
    }

    PtyPair pty;
    TCustomComPort port;
};

TEST_F(PortOnPty, OpensAndConfiguresTheLine)
{
    port.SetBaudRate(br57600);
    port.Parity().SetCheck(true);
    port.SetStopBits(sbTwo);
    port.FlowControl().SetFlowControl(fcSoftware);
    port.FlowControl().SetXonChar('Q');
    OpenOnPty(port);

    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told;
    // the rest of the settings stay as the port set them.
    TTermios2 tio = ReadTermios(pty.Path());
    EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<std::uint32_t>(B57600));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_iflag & INPCK);
    EXPECT_TRUE(tio.c_iflag & IXON);
    EXPECT_TRUE(tio.c_iflag & IXOFF);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_EQ(tio.c_cc[VSTART], 'Q');
    EXPECT_EQ(tio.c_cc[VSTOP], 19);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw binary mode";
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    // Changes on an open port reach the line at once; custom rates use BOTHER.
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(28800);
    port.FlowControl().SetFlowControl(fcHardware);
    tio = ReadTermios(pty.Path());
    EXPECT_EQ(tio.c_cflag & CBAUD, 0x1000u);
    EXPECT_EQ(tio.c_ospeed, 28800u);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_iflag & IXON);
}

TEST_F(PortOnPty, ControlBlocksTheUartCannotCarryAreRefused)
{
    OpenOnPty(port);
    port.SetDataBits(dbFive);
    port.SetStopBits(sbOneAndHalf);
    EXPECT_TRUE(ReadTermios(pty.Path()).c_cflag & CSTOPB) << "1.5 stop bits with 5 data bits";
    try {
        port.SetDataBits(dbEight);
        FAIL() << "1.5 stop bits with 8 data bits was accepted";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecSetStateFailed);
        EXPECT_EQ(e.WinCode(), EINVAL);
    }
    EXPECT_TRUE(port.Connected());
}

TEST_F(PortOnPty, SecondPortOnTheSameDeviceIsRefused)
{
    OpenOnPty(port);
    TCustomComPort second;
    second.SetEvents({});
    second.SetPortName(QString::fromStdString(pty.Path()));
    try {
        second.Open();
        FAIL() << "a second open of an open port succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecOpenFailed);
        EXPECT_EQ(e.WinCode(), EBUSY);
    }
    EXPECT_FALSE(second.Connected());
    port.Close();
    OpenOnPty(second);
    EXPECT_TRUE(second.Connected()) << "the device is free again once closed";
}

TEST(PortOnLinux, MissingDeviceFailsWithTheSystemCode)
{
    TCustomComPort port;
    port.SetPortName("/dev/ttyDOESNOTEXIST9");
    try {
        port.Open();
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Message(), "Unable to open com port (Error: 2)");
    }
    port.SetPortName("ttyDOESNOTEXIST9");
    EXPECT_THROW(port.Open(), EComPort) << "a bare name is looked up under /dev";
    EXPECT_EQ(TLinuxCommLayer::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(TLinuxCommLayer::DevicePath("/dev/pts/3"), "/dev/pts/3");
}

TEST(PortOnLinux, AFileThatIsNoTerminalIsRefused)
{
    TCustomComPort port;
    port.SetPortName("/dev/null");
    try {
        port.Open();
        FAIL() << "/dev/null opened as a serial port";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.WinCode(), ENOTTY);
    }
}

TEST(PortOnLinux, AnOpenThatFailsLeavesTheTerminalFree)
{
    PtyPair pty;
    TCommLayer& layer = DefaultCommLayer();
    // A limit with room for the device's descriptor but not for its
    // wake-up: the open fails after it claimed the terminal.
    const int lowestFree = ::fcntl(pty.Master(), F_DUPFD, 0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit tight{static_cast<rlim_t>(lowestFree) + 1, limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    THandle handle = InvalidHandle;
    const TOsError failed = layer.CreateDevice(pty.Path(), handle);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_EQ(failed, EMFILE);
    EXPECT_EQ(handle, InvalidHandle);
    THandle again = InvalidHandle;
    EXPECT_EQ(layer.CreateDevice(pty.Path(), again), NoError) << "the terminal was left exclusive";
    layer.CloseHandle(again);
}

TEST_F(PortOnPty, OpeningAndClosingLeaksNoDescriptor)
{
    // A thread's first wait gives it a wake-up descriptor for its lifetime.
    char buffer[4];
    OpenOnPty(port);
    port.Read(buffer, 4);
    port.Close();
    const int before = OpenDescriptorCount();
    for (int i = 0; i < 200; ++i) {
        OpenOnPty(port);
        port.Read(buffer, 4);
        port.Close();
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

// ---- Reading ----------------------------------------------------------------

class ReadOnPty : public PortOnPty {
protected:
    void OpenWith(std::int32_t interval, std::int32_t multiplier, std::int32_t constant)
    {
        port.Timeouts().SetReadInterval(interval);
        port.Timeouts().SetReadTotalMultiplier(multiplier);
        port.Timeouts().SetReadTotalConstant(constant);
        OpenOnPty(port);
    }

    // Waits until the port has count bytes waiting, woken by the device's
    // received-character events; each wait is bounded.
    void WaitForInput(int count)
    {
        TCommLayer& layer = port.CommLayer();
        THandle event = InvalidHandle;
        ASSERT_EQ(layer.CreateEventObject(true, false, event), NoError);
        ASSERT_EQ(layer.SetCommMask(port.Handle(), EvRxChar), NoError);
        for (int round = 0; round < 100 && port.InputCount() < count; ++round) {
            TOverlapped overlapped{};
            overlapped.hEvent = event;
            std::uint32_t mask = 0;
            const TOsError started = layer.WaitCommEvent(port.Handle(), mask, overlapped);
            ASSERT_TRUE(started == NoError || started == IoPending);
            if (port.InputCount() >= count) {
                layer.SetCommMask(port.Handle(), EvRxChar); // completes the wait still pending
                break;
            }
            ASSERT_EQ(layer.WaitForMultipleObjects(std::span(&event, 1), 5000).Result, WaitObject0)
                << "the bytes never arrived";
        }
        layer.SetCommMask(port.Handle(), 0);
        layer.CloseHandle(event);
        ASSERT_GE(port.InputCount(), count);
    }

    char buffer[64] = {};
};

TEST_F(ReadOnPty, ReturnsAtOnceWithWhatIsThere)
{
    OpenWith(-1, 0, 0);
    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_EQ(port.Read(buffer, 10), 0);
    pty.Write("abc");
    WaitForInput(3);
    EXPECT_EQ(port.InputCount(), 3);
    EXPECT_EQ(port.Read(buffer, 10), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(port.Read(buffer, 0), 0);
}

TEST_F(ReadOnPty, WaitsUntilTheCountIsMetWithoutTimeouts)
{
    OpenWith(0, 0, 0);
    std::thread writer([&] {
        pty.Write("12");
        pty.Write("345");
    });
    EXPECT_EQ(port.Read(buffer, 5), 5);
    writer.join();
    EXPECT_EQ(std::string(buffer, 5), "12345");
}

TEST_F(ReadOnPty, TotalTimeoutEndsAShortReadWithoutError)
{
    OpenWith(0, 10, 100); // 10 ms per byte of 20, plus 100: 300 ms
    pty.Write("xy");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(port.Read(buffer, 20), 2);
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_LT(timer.elapsed(), 10000);
}

TEST_F(ReadOnPty, IntervalTimeoutCountsFromTheLastByte)
{
    OpenWith(100, 0, 0);
    pty.Write("abcd");
    WaitForInput(4);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(port.Read(buffer, 20), 4);
    EXPECT_GE(timer.elapsed(), 80);
    EXPECT_LT(timer.elapsed(), 10000);
}

TEST_F(ReadOnPty, FirstByteModeReturnsWhatIsBufferedOrWaitsForTheConstant)
{
    OpenWith(-1, -1, 200);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(port.Read(buffer, 10), 0);
    EXPECT_GE(timer.elapsed(), 150) << "nothing arrived: the constant elapses";
    pty.Write("hello");
    WaitForInput(5);
    timer.restart();
    EXPECT_EQ(port.Read(buffer, 10), 5);
    std::thread writer([&] { pty.Write("!"); });
    EXPECT_EQ(port.Read(buffer, 10), 1) << "returns at the first byte";
    writer.join();
    EXPECT_EQ(buffer[0], '!');
}

TEST_F(ReadOnPty, AbortFromAnotherThreadFailsThePendingRead)
{
    OpenWith(0, 0, 0);
    PAsyncRecord record = nullptr;
    port.InitAsync(record);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(port.ReadAsync(buffer, 10, record), 0) << "nothing there: the read goes on in the background";
    std::thread aborter([&] { port.AbortAllAsync(); });
    try {
        port.WaitForAsync(record);
        ADD_FAILURE() << "the aborted read succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecReadFailed);
        EXPECT_EQ(e.WinCode(), ECANCELED);
    }
    aborter.join();
    port.DoneAsync(record);
    EXPECT_EQ(record, nullptr);
}

TEST_F(ReadOnPty, ReadOnAClosedPortLeavesNothingBehind)
{
    const int before = OpenDescriptorCount();
    try {
        port.Read(buffer, 4);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecPortNotOpen);
        EXPECT_EQ(e.Message(), "Port Not Open");
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(ReadOnPty, APseudoTerminalHasNoModemLinesAndNoErrors)
{
    OpenWith(-1, 0, 0);
    EXPECT_TRUE(port.Signals().Empty()) << "a line without modem lines reads all off";
    EXPECT_TRUE(port.LastErrors().Empty()) << "a driver without counters reports no errors";
}

TEST_F(ReadOnPty, ClearingPurgeEmptiesTheInput)
{
    OpenWith(-1, 0, 0);
    pty.Write("stale");
    WaitForInput(5);
    ASSERT_EQ(port.CommLayer().PurgeComm(port.Handle(), PurgeRxClear | PurgeTxClear), NoError);
    EXPECT_EQ(port.InputCount(), 0);
}

TEST_F(ReadOnPty, NullsAreDiscardedWhenAskedAndKeptOtherwise)
{
    port.SetDiscardNull(true);
    OpenWith(-1, 0, 0);
    pty.Write(std::string("a\0b\0\0c\0", 7));
    WaitForInput(3);
    EXPECT_EQ(port.Read(buffer, 10), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    port.SetDiscardNull(false);
    pty.Write(std::string("d\0e", 3));
    WaitForInput(3);
    EXPECT_EQ(port.Read(buffer, 10), 3);
    EXPECT_EQ(std::string(buffer, 3), std::string("d\0e", 3));
}

TEST_F(ReadOnPty, APendingReadTakesItsBytesAndLeavesTheRestQueued)
{
    OpenWith(0, 0, 0);
    std::thread writer([&] { pty.Write("abcdef"); });
    EXPECT_EQ(port.Read(buffer, 3), 3);
    writer.join();
    EXPECT_EQ(std::string(buffer, 3), "abc");
    WaitForInput(3);
    EXPECT_EQ(port.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "def");
}

TEST_F(ReadOnPty, EveryByteArrivesInOrderThroughASmallQueue)
{
    std::string sent(1 << 20, '\0');
    std::uint32_t state = 12345;
    for (char& c : sent) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    // Without an event thread every look reads the device; with one, the
    // device is read when poll finds it readable, by whichever thread looks.
    for (const TComEvents events : {TComEvents{}, TComEvents{evRxChar, evRxFlag, evRx80Full}}) {
        port.SetEvents(events);
        port.SetSyncMethod(smNone);
        port.Buffer().SetInputSize(1000);
        OpenWith(0, 0, 0);
        std::thread writer([&] {
            for (std::size_t at = 0; at < sent.size(); at += 4096)
                pty.Write(sent.substr(at, 4096));
        });
        std::string received;
        std::vector<char> chunk(777);
        while (received.size() < sent.size()) {
            const auto wanted = std::min<std::size_t>(chunk.size(), sent.size() - received.size());
            const std::int32_t n = port.Read(chunk.data(), static_cast<std::int32_t>(wanted));
            ASSERT_GT(n, 0);
            received.append(chunk.data(), static_cast<std::size_t>(n));
        }
        writer.join();
        EXPECT_TRUE(received == sent) << "the bytes were reordered or changed, events " << events.ToBits();
        port.Close();
    }
}

TEST_F(ReadOnPty, ATotalTimeoutBeyondTheClockWaitsForTheBytes)
{
    // MaxDword milliseconds per byte: far past the end of the clock.
    OpenWith(0, -1, 0);
    auto reading = std::async(std::launch::async, [&] { return port.Read(buffer, 4); });
    EXPECT_EQ(reading.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "the read returned at once: its deadline overflowed into the past";
    pty.Write("abcd");
    if (reading.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        port.AbortAllAsync();
    EXPECT_EQ(reading.get(), 4);
}

TEST_F(ReadOnPty, OtherEndClosingFailsAPendingReadInsteadOfHanging)
{
    OpenWith(0, 0, 0);
    std::thread closer([&] { pty.CloseMaster(); });
    EXPECT_THROW(port.Read(buffer, 10), EComPort);
    closer.join();
}

// ---- Writing over a pseudo-terminal ------------------------------------------

class WriteOnPty : public PortOnPty {
protected:
    void OpenWithWriteTimeout(std::int32_t multiplier, std::int32_t constant)
    {
        port.Timeouts().SetWriteTotalMultiplier(multiplier);
        port.Timeouts().SetWriteTotalConstant(constant);
        OpenOnPty(port);
    }

    // Reads the far end until count bytes came, or a second passes with none.
    std::string ReadFarEnd(std::size_t count)
    {
        std::string received;
        std::vector<char> chunk(65536);
        while (received.size() < count) {
            pollfd p{pty.Master(), POLLIN, 0};
            if (::poll(&p, 1, 1000) != 1)
                break;
            const ssize_t n = ::read(pty.Master(), chunk.data(), chunk.size());
            if (n <= 0)
                break;
            received.append(chunk.data(), static_cast<std::size_t>(n));
        }
        return received;
    }

    // The far end in raw mode, so that every byte value passes unchanged.
    void RawFarEnd()
    {
        termios raw{};
        ASSERT_EQ(::tcgetattr(pty.Master(), &raw), 0);
        ::cfmakeraw(&raw);
        ASSERT_EQ(::tcsetattr(pty.Master(), TCSANOW, &raw), 0);
    }
};

TEST_F(WriteOnPty, EveryByteArrivesUnchanged)
{
    RawFarEnd();
    OpenWithWriteTimeout(0, 0);
    std::string sent(1 << 20, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    std::string received;
    std::thread reader([&] { received = ReadFarEnd(sent.size()); });
    EXPECT_EQ(port.Write(sent.data(), static_cast<std::int32_t>(sent.size())), static_cast<std::int32_t>(sent.size()));
    reader.join();
    ASSERT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent) << "bytes were changed on the way";
}

TEST_F(WriteOnPty, AFarEndThatStopsReadingEndsATimedWriteShort)
{
    OpenWithWriteTimeout(0, 300);
    const std::string block(4 << 20, 'x');
    QElapsedTimer timer;
    timer.start();
    const std::int32_t written = port.Write(block.data(), static_cast<std::int32_t>(block.size()));
    const qint64 elapsed = timer.elapsed();
    EXPECT_GT(written, 0) << "the driver took nothing";
    EXPECT_LT(written, static_cast<std::int32_t>(block.size())) << "a far end that does not read took everything";
    EXPECT_GE(elapsed, 250) << "the write gave up before its time";
    EXPECT_LT(elapsed, 5000);
}

TEST_F(WriteOnPty, AWriteWithoutTimeoutWaitsForTheFarEnd)
{
    OpenWithWriteTimeout(0, 0);
    const std::string block(1 << 20, 'y');
    auto writing = std::async(std::launch::async, [&] {
        return port.Write(block.data(), static_cast<std::int32_t>(block.size()));
    });
    EXPECT_EQ(writing.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "the write ended although the far end read nothing";
    const std::string received = ReadFarEnd(block.size());
    if (writing.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        port.AbortAllAsync();
    EXPECT_EQ(writing.get(), static_cast<std::int32_t>(block.size()));
    EXPECT_EQ(received.size(), block.size());
}

TEST_F(WriteOnPty, AbortAndCloseEndAPendingWrite)
{
    OpenWithWriteTimeout(0, 0);
    const std::string block(4 << 20, 'z');
    PAsyncRecord record = nullptr;
    port.InitAsync(record);
    const std::int32_t atOnce = port.WriteAsync(block.data(), static_cast<std::int32_t>(block.size()), record);
    EXPECT_EQ(atOnce, 0) << "a write the far end cannot take is pending";
    EXPECT_GT(port.OutputCount(), 0);
    port.AbortAllAsync();
    try {
        port.WaitForAsync(record);
        ADD_FAILURE() << "an aborted write completed";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecWriteFailed);
        EXPECT_EQ(e.WinCode(), ECANCELED);
    }
    EXPECT_EQ(port.OutputCount(), 0) << "an aborted write still counts as output";

    port.WriteAsync(block.data(), static_cast<std::int32_t>(block.size()), record);
    port.Close();
    try {
        port.WaitForAsync(record);
        ADD_FAILURE() << "a write ended by closing completed";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecWriteFailed);
        EXPECT_EQ(e.WinCode(), ECANCELED);
    }
    port.DoneAsync(record);
}

// The far end reads only once Close has returned: whatever the port threw
// away while closing (a purge of the output) never reaches it. A
// pseudo-terminal takes 11 to 14 kB unread, of which a purge leaves the 4 kB
// already in the far end's own queue.
TEST_F(WriteOnPty, BytesWrittenBeforeCloseReachAFarEndThatReadsAfterIt)
{
    RawFarEnd();
    std::string sent(8000, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>('a' + i % 26);
    // No events: the port runs without an event thread.
    for (const TComEvents events : {TComEvents{}, AllComEvents}) {
        SCOPED_TRACE(events.Empty() ? "without an event thread" : "with the default events");
        port.SetEvents(events);
        OpenWithWriteTimeout(0, 2000);
        const std::int32_t written = port.Write(sent.data(), static_cast<std::int32_t>(sent.size()));
        ASSERT_GT(written, 6000) << "the pseudo-terminal took too little for a purge to show";
        port.Close();
        EXPECT_EQ(ReadFarEnd(sent.size()), sent.substr(0, static_cast<std::size_t>(written)))
            << "Close discarded what Write had taken";
    }
}

TEST_F(WriteOnPty, OutputLinesOfAPseudoTerminalAreSetWithoutEffect)
{
    OpenWithWriteTimeout(0, 0);
    EXPECT_NO_THROW(port.SetDTR(false));
    EXPECT_NO_THROW(port.SetRTS(false));
    EXPECT_NO_THROW(port.SetDTR(true));
    EXPECT_NO_THROW(port.SetRTS(true));
    EXPECT_TRUE(port.Signals().Empty());
    port.TransmitChar('!');
    EXPECT_EQ(ReadFarEnd(1), "!");
}

} // namespace
