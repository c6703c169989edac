// Line events, the input count, purging, and closing with operations pending.
#include "LayerHelpers.h"

using namespace Comm;
using namespace PlatformTest;

namespace {

using Events = PortTest;

// A WaitCommEvent that is pending or done, on an event of its own.
struct TEventWait {
    TEvent event;
    TOverlapped overlapped{};
    std::uint32_t mask = 0;
    TOsError started = NoError;

    explicit TEventWait(THandle port)
    {
        overlapped.hEvent = event.Get();
        started = Layer().WaitCommEvent(port, mask, overlapped);
    }
    bool Pending() const { return started == IoPending; }
};

TEST_F(Events, ArrivingBytesEndAnEventWait)
{
    ASSERT_EQ(Layer().SetCommMask(port, EvRxChar), NoError);
    TEventWait wait(port);
    ASSERT_TRUE(wait.Pending()) << "the wait ended with nothing received: " << wait.started;
    ASSERT_TRUE(line->Send("k"));
    ASSERT_TRUE(Signalled(wait.event.Get(), Patience)) << "the received byte did not end the wait";
    if (UnderWine())
        GTEST_SKIP() << WineLeavesTheEventMaskZero;
    std::uint32_t ignored = 0;
    EXPECT_EQ(Layer().GetOverlappedResult(port, wait.overlapped, ignored, false), NoError);
    EXPECT_EQ(wait.mask, EvRxChar);
}

TEST_F(Events, TheEventCharacterIsReportedAsSuch)
{
    TDCB dcb = PlainDcb();
    dcb.EvtChar = '\n';
    ASSERT_EQ(Layer().SetCommState(port, dcb), NoError);
    ASSERT_EQ(Layer().SetCommMask(port, EvRxFlag), NoError);
    TEventWait wait(port);
    ASSERT_TRUE(wait.Pending());
    ASSERT_TRUE(line->Send("line\n"));
    ASSERT_TRUE(Signalled(wait.event.Get(), Patience)) << "the event character did not end the wait";
    if (UnderWine())
        GTEST_SKIP() << WineLeavesTheEventMaskZero;
    EXPECT_EQ(wait.mask, EvRxFlag);
}

TEST_F(Events, AnEmptiedOutputQueueIsReported)
{
    ASSERT_EQ(Layer().SetCommMask(port, EvTxEmpty), NoError);
    TEventWait wait(port);
    ASSERT_TRUE(wait.Pending());
    ASSERT_EQ(WriteAll(port, "out"), NoError);
    ASSERT_TRUE(Signalled(wait.event.Get(), Patience)) << "the drained output did not end the wait";
    EXPECT_EQ(line->Receive(3, Patience), "out");
    if (UnderWine())
        GTEST_SKIP() << WineLeavesTheEventMaskZero;
    EXPECT_EQ(wait.mask, EvTxEmpty);
}

TEST_F(Events, TheInputCountShowsWhatWaitsAndAClearingPurgeDropsIt)
{
    ASSERT_EQ(Layer().SetCommMask(port, EvRxChar), NoError);
    ASSERT_TRUE(line->Send("12345"));
    std::uint32_t errors = 0;
    TComStat stat{};
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    // Each wait ends on an arrival, so this loops once per chunk that came.
    while (stat.cbInQue < 5 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(Layer().ClearCommError(port, errors, stat), NoError);
        if (stat.cbInQue >= 5)
            break;
        TEventWait wait(port);
        if (wait.Pending() && !Signalled(wait.event.Get(), Patience))
            Layer().PurgeComm(port, PurgeRxAbort);
    }
    EXPECT_EQ(stat.cbInQue, 5u);
    EXPECT_EQ(errors, 0u) << "a clean line reported errors";
    ASSERT_EQ(Layer().PurgeComm(port, PurgeRxClear), NoError);
    ASSERT_EQ(Layer().ClearCommError(port, errors, stat), NoError);
    EXPECT_EQ(stat.cbInQue, 0u) << "the purge left bytes";
}

TEST_F(Events, ModemLinesOfAPseudoTerminalReadAsOff)
{
    if (UnderWine())
        GTEST_SKIP() << WineHasNoModemLinesOnAPty;
    std::uint32_t status = 0xFF;
    ASSERT_EQ(Layer().GetCommModemStatus(port, status), NoError);
    EXPECT_EQ(status, 0u);
    for (const std::uint32_t function : {EscSetDtr, EscClrDtr, EscSetRts, EscClrRts})
        EXPECT_EQ(Layer().EscapeCommFunction(port, function), NoError) << "function " << function;
}

using Purge = PortTest;

TEST_F(Purge, AnAbortEndsAPendingReadAsAborted)
{
    if (UnderWine())
        GTEST_SKIP() << WinePurgeLeavesAReadPending;
    TEvent event;
    TOverlapped overlapped{};
    overlapped.hEvent = event.Get();
    char buffer[8];
    std::uint32_t read = 0;
    ASSERT_EQ(Layer().ReadFile(port, buffer, sizeof buffer, read, overlapped), IoPending);
    ASSERT_EQ(Layer().PurgeComm(port, PurgeRxAbort), NoError);
    ASSERT_TRUE(Signalled(event.Get(), Patience)) << "the aborted read stayed pending";
    EXPECT_EQ(Layer().GetOverlappedResult(port, overlapped, read, false), OperationAborted);
}

TEST_F(Purge, ClosingEndsEveryPendingOperationAndThePortOpensAgainAtOnce)
{
    ASSERT_EQ(Layer().SetCommMask(port, EvRxChar | EvBreak), NoError);
    TEventWait wait(port);
    ASSERT_TRUE(wait.Pending());
    TEvent readEvent;
    TOverlapped overlapped{};
    overlapped.hEvent = readEvent.Get();
    char buffer[8];
    std::uint32_t read = 0;
    ASSERT_EQ(Layer().ReadFile(port, buffer, sizeof buffer, read, overlapped), IoPending);
    ASSERT_EQ(ClosePort(), NoError);
    EXPECT_TRUE(Signalled(readEvent.Get(), Patience)) << "the read outlived the close";
    EXPECT_TRUE(Signalled(wait.event.Get(), Patience)) << "the event wait outlived the close";
    const TOsError error = Layer().CreateDevice(line->PortName(), port);
    EXPECT_EQ(error, NoError) << "reopening after a close with pending operations: " << Layer().ErrorText(error);
}

} // namespace
