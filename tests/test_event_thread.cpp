// The event thread and the dispatch of line events, under each of the three
// delivery methods, on the fake device and on real pseudo-terminals.
#include "ApplicationException.h"
#include "ComThread.h"
#include "OwnerCallQueue.h"
#include "Journal.h"
#include "PtyPair.h"
#include "fake/FakeComm.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

using namespace Comm;

namespace {

const char* MethodName(TSyncMethod method)
{
    switch (method) {
    case smThreadSync: return "smThreadSync";
    case smWindowSync: return "smWindowSync";
    case smNone: return "smNone";
    }
    return "?";
}

// Records what the application's exception display is handed.
class ApplicationErrors {
public:
    ApplicationErrors()
    {
        previous = SetApplicationExceptionHandler([this](QObject*, const char* message) { journal.Add(message); });
    }
    ~ApplicationErrors() { SetApplicationExceptionHandler(previous); }
    TJournal journal;
    TApplicationExceptionHandler previous;
};

class EventDispatch : public testing::TestWithParam<TSyncMethod> {
protected:
    EventDispatch() : port(nullptr, device)
    {
        port.SetPortName("/dev/ttyFAKE0");
        port.SetSyncMethod(GetParam());
        port.OnRxChar = [this](TCustomComPort*, std::int32_t count) {
            journal.Add(QString("RxChar %1").arg(count));
            CheckThread();
        };
        port.OnError = [this](TCustomComPort*, TComErrors errors) { journal.Add(QString("Error %1").arg(errors.ToBits())); };
        port.OnTxEmpty = [this](TCustomComPort*) { journal.Add("TxEmpty"); };
        port.OnBreak = [this](TCustomComPort*) { journal.Add("Break"); };
        port.OnRing = [this](TCustomComPort*) { journal.Add("Ring"); };
        port.OnRxFlag = [this](TCustomComPort*) { journal.Add("RxFlag"); };
        port.OnRx80Full = [this](TCustomComPort*) { journal.Add("Rx80Full"); };
    }

    ~EventDispatch() override
    {
        if (port.Connected())
            port.Close();
    }

    // Handlers run on the GUI thread unless the method is smNone.
    void CheckThread()
    {
        const bool onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        if (onGuiThread != (GetParam() != smNone))
            journal.Add("WRONG THREAD");
    }

    void OpenAndWaitForTheEventThread()
    {
        port.Open();
        ASSERT_TRUE(device.WaitForPendingEventWait(5000)) << "the event thread never waited for events";
    }

    TFakeCommLayer device;
    TJournal journal;
    TCustomComPort port;
};

TEST_P(EventDispatch, BatchRunsInTheFixedOrder)
{
    OpenAndWaitForTheEventThread();
    device.InjectBytes("abc", false);
    device.InjectErrors(CeFrame);
    device.SignalEvents(EvRx80Full | EvRlsd | EvRxFlag | EvTxEmpty | EvRxChar | EvErr | EvBreak | EvRing);
    ASSERT_TRUE(journal.WaitFor(7)) << journal.Entries().join(", ").toStdString();
    EXPECT_EQ(journal.Entries(), QStringList({"Error 1", "RxChar 3", "TxEmpty", "Break", "Ring", "RxFlag", "Rx80Full"}))
        << MethodName(GetParam());
}

TEST_P(EventDispatch, ReceivedCharacterWithNothingWaitingFiresNothing)
{
    TComPortLink link;
    link.OnRxActivity = [&](TCustomComPort*, bool on) { journal.Add(QString("link rx %1").arg(on)); };
    port.RegisterLink(&link);
    OpenAndWaitForTheEventThread();
    device.SignalEvents(EvRxChar);
    device.SignalEvents(EvBreak);
    ASSERT_TRUE(journal.WaitFor(1));
    EXPECT_EQ(journal.Entries(), QStringList{"Break"});
    port.Close();
    port.UnregisterLink(&link);
}

TEST_P(EventDispatch, ErrorsFireOnlyWhenThereAreSome)
{
    OpenAndWaitForTheEventThread();
    device.SignalEvents(EvErr);
    device.InjectErrors(CeRxParity);
    device.SignalEvents(EvErr);
    device.InjectErrors(CeOverrun | CeBreak);
    device.SignalEvents(EvErr);
    ASSERT_TRUE(journal.WaitFor(1));
    EXPECT_EQ(journal.Entries(), QStringList{QString("Error %1").arg(TComErrors({ceOverrun, ceBreak}).ToBits())})
        << "an empty error set and a parity error without checking fire nothing";
}

TEST_P(EventDispatch, ExceptionInAHandler)
{
    ApplicationErrors shown;
    port.OnRxChar = [](TCustomComPort*, std::int32_t) { throw std::runtime_error("handler failed"); };
    OpenAndWaitForTheEventThread();
    device.InjectBytes("x");
    ASSERT_TRUE(shown.journal.WaitFor(1)) << "the exception was lost";
    device.SignalEvents(EvBreak);
    if (GetParam() == smWindowSync) {
        ASSERT_TRUE(journal.WaitFor(1)) << "the next event was not delivered";
        EXPECT_EQ(journal.Entries(), QStringList{"Break"});
    } else {
        // The thread has ended: nothing more is dispatched until the port reopens.
        EXPECT_FALSE(journal.WaitFor(1, 200));
        port.Close();
        port.Open();
        ASSERT_TRUE(device.WaitForPendingEventWait(5000));
        device.SignalEvents(EvBreak);
        EXPECT_TRUE(journal.WaitFor(1)) << "reopening restarts the events";
    }
    EXPECT_EQ(shown.journal.Entries(), QStringList{"handler failed"}) << "reported exactly once";
}

TEST_P(EventDispatch, LinksAreToldInOrderWithTheirSlots)
{
    TComPortLink first, second;
    for (auto* link : {&first, &second}) {
        const QString name = link == &first ? "first" : "second";
        link->OnConnection = [this, name](TCustomComPort*, bool on) { journal.Add(name + QString(" connection %1").arg(on)); };
        link->OnTxEmpty = [this, name](TCustomComPort*) { journal.Add(name + " txempty"); };
        link->OnTxActivity = [this, name](TCustomComPort*, bool on) { journal.Add(name + QString(" tx %1").arg(on)); };
        link->OnRing = [this, name](TCustomComPort*) { journal.Add(name + " ring"); };
        link->OnRxFlag = [this, name](TCustomComPort*) { journal.Add(name + " rxflag"); };
        link->OnCTSChange = [this, name](TCustomComPort*, bool on) { journal.Add(name + QString(" cts %1").arg(on)); };
        port.RegisterLink(link);
    }
    port.OnTxEmpty = nullptr;
    port.OnRing = nullptr;
    port.OnRxFlag = nullptr;
    device.SetModemStatus(MsCtsOn);
    OpenAndWaitForTheEventThread();
    EXPECT_EQ(journal.Entries(), QStringList({"first connection 1", "second connection 1", "first cts 1", "second cts 1"}));
    journal.Clear();
    device.SignalEvents(EvTxEmpty | EvRing | EvRxFlag);
    ASSERT_TRUE(journal.WaitFor(8));
    EXPECT_EQ(journal.Entries(), QStringList({"first tx 0", "second tx 0", "first txempty", "second txempty", "first ring",
                                              "second ring", "first rxflag", "second rxflag"}));
    port.Close();
    port.UnregisterLink(&first);
    port.UnregisterLink(&second);
}

TEST_P(EventDispatch, ALostDeviceIsReportedOnceOnTheOwningThread)
{
    port.OnException = [this](TCustomComPort*, TComErrorCode code, const QString& message, std::int64_t osError,
                              const QString&) {
        journal.Add(QString("Exception %1 %2 %3").arg(code).arg(message).arg(osError));
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            journal.Add("WRONG THREAD");
    };
    OpenAndWaitForTheEventThread();
    device.LoseDevice(EIO);
    ASSERT_TRUE(journal.WaitFor(1));
    EXPECT_FALSE(journal.WaitFor(2, 200)) << "the loss was reported more than once";
    EXPECT_EQ(journal.Entries(), QStringList{"Exception 21 WaitForEvent method failed 5"});
    const auto calls = device.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "WaitCommEvent"), 1) << "the thread went on waiting";
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST_P(EventDispatch, ALostDeviceWithoutOnExceptionGoesToTheApplication)
{
    ApplicationErrors shown;
    OpenAndWaitForTheEventThread();
    device.LoseDevice(EIO);
    ASSERT_TRUE(shown.journal.WaitFor(1));
    EXPECT_FALSE(shown.journal.WaitFor(2, 200));
    EXPECT_EQ(shown.journal.Entries(), QStringList{"WaitForEvent method failed (Error: 5)"});
}

TEST_P(EventDispatch, CloseWhileTheThreadWaitsForTheGuiThread)
{
    std::atomic<int> handled{0};
    port.OnBreak = [&](TCustomComPort*) { ++handled; };
    OpenAndWaitForTheEventThread();
    // The event thread may already be waiting for the GUI thread to run the
    // batch; Close serves that call while it waits, so it cannot deadlock.
    device.SignalEvents(EvBreak);
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_LE(handled.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(EachMethod, EventDispatch, testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const testing::TestParamInfo<TSyncMethod>& info) { return std::string(MethodName(info.param)); });

// ---- Receiving buffers ----------------------------------------------------

class RxBuffers : public testing::Test {
protected:
    RxBuffers() : port(nullptr, device)
    {
        port.SetEvents({});
        port.OnRxChar = [this](TCustomComPort*, std::int32_t count) { journal.Add(QString("RxChar %1").arg(count)); };
        port.OnRxBuf = [this](TCustomComPort*, const void* data, std::int32_t count) {
            journal.Add("RxBuf " + QString::fromLatin1(static_cast<const char*>(data), count));
        };
    }

    TFakeCommLayer device;
    TJournal journal;
    TCustomComPort port;
};

TEST_F(RxBuffers, AnnouncedOnlyWhileNobodyConsumesThem)
{
    port.Open();
    device.InjectBytes("abc");
    port.CallRxChar();
    EXPECT_EQ(journal.Entries(), QStringList{"RxChar 3"});
    EXPECT_EQ(device.QueuedBytes(), 3u) << "announced bytes are left for the application";
}

TEST_F(RxBuffers, ConsumingLinkGetsThemAfterThePortsOwnHandler)
{
    TComPortLink plain, consumer;
    consumer.OnRxBuf = [this](TCustomComPort*, const void* data, std::int32_t count) {
        journal.Add("link " + QString::fromLatin1(static_cast<const char*>(data), count));
    };
    port.RegisterLink(&plain);
    port.RegisterLink(&consumer);
    port.Open();
    device.InjectBytes("xyz");
    port.CallRxChar();
    EXPECT_EQ(journal.Entries(), QStringList({"RxBuf xyz", "link xyz"}));
    EXPECT_EQ(device.QueuedBytes(), 0u);
    port.Close();
    EXPECT_EQ(device.OpenEvents(), 0u);
}

TEST_F(RxBuffers, WithoutAnnouncingThePortReadsThemItself)
{
    port.SetTriggersOnRxChar(false);
    port.Open();
    device.InjectBytes("hi");
    port.CallRxChar();
    EXPECT_EQ(journal.Entries(), QStringList{"RxBuf hi"});
}

TEST_F(RxBuffers, AFailedReadHandsNoBytesOn)
{
    TComPortLink consumer;
    consumer.OnRxBuf = [this](TCustomComPort*, const void*, std::int32_t count) {
        journal.Add(QString("link %1").arg(count));
    };
    port.RegisterLink(&consumer);
    port.OnException = [this](TCustomComPort*, TComErrorCode code, const QString&, std::int64_t, const QString&) {
        journal.Add(QString("Exception %1").arg(code));
    };
    port.Open();
    device.InjectBytes("hi");
    device.Fail("ReadFile", EIO, 1);
    port.CallRxChar();
    EXPECT_EQ(journal.Entries(), QStringList{"Exception 3"}) << "consumers got bytes that were never read";
    port.Close();
    port.UnregisterLink(&consumer);
}

TEST_F(RxBuffers, BufferIsReleasedWhenAHandlerFails)
{
    port.SetTriggersOnRxChar(false);
    port.OnRxBuf = [](TCustomComPort*, const void*, std::int32_t) { throw std::runtime_error("consumer failed"); };
    port.Open();
    device.InjectBytes("hi");
    EXPECT_THROW(port.CallRxChar(), std::runtime_error);
    EXPECT_TRUE(journal.Entries().isEmpty()) << "OnRxChar must not announce bytes already read";
}

// ---- Opening and closing --------------------------------------------------

TEST(EventThreadLifecycle, EmptyEventsStartNoThread)
{
    TFakeCommLayer device;
    TCustomComPort port(nullptr, device);
    port.SetEvents({});
    TJournal journal;
    port.OnAfterOpen = [&](TCustomComPort*) { journal.Add("AfterOpen"); };
    port.OnDSRChange = [&](TCustomComPort*, bool on) { journal.Add(QString("DSR %1").arg(on)); };
    device.SetModemStatus(MsDsrOn);
    port.Open();
    port.Close();
    EXPECT_TRUE(device.Masks().empty()) << "no event thread set a mask";
    EXPECT_EQ(journal.Entries(), QStringList({"AfterOpen", "DSR 1", "DSR 0"}));
}

TEST(EventThreadLifecycle, ThreadWatchesTheEventsAndCleansUpBehindItself)
{
    TFakeCommLayer device;
    TCustomComPort port(nullptr, device);
    port.SetEvents({evRxChar, evBreak});
    port.Open();
    ASSERT_TRUE(device.WaitForPendingEventWait(5000));
    EXPECT_EQ(device.Masks(), std::vector<std::uint32_t>{EvRxChar | EvBreak});
    port.Close();
    EXPECT_EQ(device.Masks(), std::vector<std::uint32_t>({EvRxChar | EvBreak, 0}));
    EXPECT_EQ(device.Purges(), std::vector<std::uint32_t>({PurgeTxAbort | PurgeRxAbort, PurgeRxClear}))
        << "output handed over before Close must not be discarded";
    EXPECT_EQ(device.OpenEvents(), 0u) << "the thread's events are all closed";
    EXPECT_EQ(EventsToMask(AllComEvents), 0x05FFu);
    EXPECT_EQ(MaskToEvents(0xFFFF), AllComEvents);
}

TEST(EventThreadLifecycle, CloseFromAHandlerTheThreadWaitsForIsRefused)
{
    for (TSyncMethod method : {smThreadSync, smNone}) {
        ApplicationErrors shown;
        TFakeCommLayer device;
        TCustomComPort port(nullptr, device);
        port.SetSyncMethod(method);
        port.OnBreak = [](TCustomComPort* sender) { sender->Close(); };
        port.Open();
        ASSERT_TRUE(device.WaitForPendingEventWait(5000));
        device.SignalEvents(EvBreak);
        ASSERT_TRUE(shown.journal.WaitFor(1)) << MethodName(method);
        EXPECT_EQ(shown.journal.Entries(),
                  QStringList{"Cannot close the port from a handler its event thread is waiting for"});
        EXPECT_TRUE(port.Connected());
        port.Close();
        EXPECT_FALSE(port.Connected());
    }
}

TEST(EventThreadLifecycleDeathTest, DestroyingThePortFromItsOwnEventThreadAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            TFakeCommLayer device;
            auto* port = new TCustomComPort(nullptr, device);
            port->SetSyncMethod(smNone);
            port->OnBreak = [](TCustomComPort* sender) { delete sender; };
            port->Open();
            device.WaitForPendingEventWait(5000);
            device.SignalEvents(EvBreak);
            // The event thread ends the process; should it not, this returns.
            TJournal never;
            never.WaitFor(1, 10000);
        },
        "destroyed from a handler of its own event thread");
}

TEST(EventThreadLifecycle, CloseFromAWindowMessageHandlerWorks)
{
    TFakeCommLayer device;
    TCustomComPort port(nullptr, device);
    port.SetSyncMethod(smWindowSync);
    TJournal journal;
    port.OnBreak = [&](TCustomComPort* sender) {
        sender->Close();
        journal.Add(QString("closed %1").arg(!sender->Connected()));
    };
    port.Open();
    ASSERT_TRUE(device.WaitForPendingEventWait(5000));
    device.SignalEvents(EvBreak);
    ASSERT_TRUE(journal.WaitFor(1));
    EXPECT_EQ(journal.Entries(), QStringList{"closed 1"});
}

// A worker whose next call is queued while the last one runs (a stream of
// received bytes) must not hold the owning thread's event loop: what the loop
// had queued meanwhile runs before the next call.
TEST(OwnerCalls, TheEventLoopTurnsBetweenTwoSentCalls)
{
    TOwnerCallQueue queue;
    queue.BeginWorker();
    TJournal journal;
    std::mutex mutex;
    std::condition_variable changed;
    bool secondComing = false;
    struct Step {
        std::function<void()> Run;
    };
    const TSentCall::TBody body = [](void* step, std::uintptr_t) { static_cast<Step*>(step)->Run(); };
    Step first{[&] {
        journal.Add("first call");
        QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { journal.Add("loop turned"); },
                                  Qt::QueuedConnection);
        // The worker goes on and sends its next call while this one runs.
        ReplySentCall();
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return secondComing; });
    }};
    Step second{[&] { journal.Add("second call"); }};
    std::thread worker([&] {
        TSentCall one(body, &first);
        queue.Send(one);
        {
            std::lock_guard lock(mutex);
            secondComing = true;
        }
        changed.notify_all();
        TSentCall two(body, &second);
        queue.Send(two);
        queue.MarkFinished();
    });
    EXPECT_TRUE(journal.WaitFor(3));
    queue.WaitForFinish();
    worker.join();
    EXPECT_EQ(journal.Entries(), QStringList({"first call", "loop turned", "second call"}));
}

// ---- Real pseudo-terminals ----------------------------------------------------

class EventsOnPty : public testing::Test {
protected:
    EventsOnPty()
    {
        port.SetPortName(QString::fromStdString(pty.Path()));
        port.OnRxChar = [this](TCustomComPort*, std::int32_t count) {
            const bool gui = QThread::currentThread() == QCoreApplication::instance()->thread();
            journal.Add(QString("RxChar %1%2").arg(count).arg(gui ? "" : " off the GUI thread"));
        };
        port.OnRxFlag = [this](TCustomComPort*) { journal.Add("RxFlag"); };
        port.OnRx80Full = [this](TCustomComPort*) { journal.Add("Rx80Full"); };
    }

    PtyPair pty;
    TJournal journal;
    TCustomComPort port;
};

TEST_F(EventsOnPty, ReceivedBytesAreAnnouncedOnceOnTheGuiThread)
{
    OpenOnPty(port);
    pty.Write("hello");
    ASSERT_TRUE(journal.WaitFor(1));
    EXPECT_EQ(journal.Entries(), QStringList{"RxChar 5"});
    EXPECT_FALSE(journal.WaitFor(2, 200)) << "unread bytes must not be announced again";
    pty.Write("!");
    ASSERT_TRUE(journal.WaitFor(2));
    EXPECT_EQ(journal.Entries().last(), "RxChar 6");
}

TEST_F(EventsOnPty, EventCharacterRaisesRxFlag)
{
    port.SetEventChar('\n');
    port.OnRxChar = nullptr;
    OpenOnPty(port);
    pty.Write("no flag");
    pty.Write("line\n");
    ASSERT_TRUE(journal.WaitFor(1));
    EXPECT_EQ(journal.Entries(), QStringList{"RxFlag"});
}

TEST_F(EventsOnPty, FillingTheQueueToEightyPercentRaisesRx80Full)
{
    port.Buffer().SetInputSize(100);
    port.OnRxChar = nullptr;
    OpenOnPty(port);
    pty.Write(std::string(79, 'a'));
    pty.Write(std::string(1, 'b'));
    ASSERT_TRUE(journal.WaitFor(1));
    EXPECT_EQ(journal.Entries(), QStringList{"Rx80Full"});
}

TEST_F(EventsOnPty, ClosingPurgesUnreadInput)
{
    OpenOnPty(port);
    pty.Write("unread");
    ASSERT_TRUE(journal.WaitFor(1));
    port.Close();
    port.OnRxChar = nullptr;
    port.SetEvents({});
    OpenOnPty(port);
    EXPECT_EQ(port.InputCount(), 0);
}

TEST_F(EventsOnPty, LineIsWatchedAgainOnceAFullQueueIsRead)
{
    port.Buffer().SetInputSize(16);
    OpenOnPty(port);
    pty.Write(std::string(16, 'a'));
    for (qsizetype seen = 1; seen <= 16 && !journal.Entries().contains("RxChar 16"); ++seen)
        ASSERT_TRUE(journal.WaitFor(seen)) << "the first bytes were not announced";
    ASSERT_TRUE(journal.Entries().contains("RxChar 16"));
    char buffer[16];
    EXPECT_EQ(port.Read(buffer, 16), 16);
    const qsizetype before = journal.Entries().size();
    pty.Write("b");
    ASSERT_TRUE(journal.WaitFor(before + 1)) << "the port stopped watching the line after its queue was full";
    EXPECT_EQ(journal.Entries().last(), "RxChar 1");
}

// The other end of the line going away, under each delivery method.
class LostLine : public testing::TestWithParam<TSyncMethod> {
protected:
    LostLine()
    {
        port.SetPortName(QString::fromStdString(pty.Path()));
        port.SetSyncMethod(GetParam());
        port.OnException = [this](TCustomComPort*, TComErrorCode code, const QString&, std::int64_t osError,
                                  const QString&) {
            const bool gui = QThread::currentThread() == QCoreApplication::instance()->thread();
            journal.Add(QString("Lost %1 %2%3").arg(code).arg(osError).arg(gui ? "" : " off the GUI thread"));
        };
    }

    PtyPair pty;
    TJournal journal;
    TCustomComPort port;
};

TEST_P(LostLine, IsReportedOnceAndLaterReadsFail)
{
    port.OnRxChar = [this](TCustomComPort*, std::int32_t count) { journal.Add(QString("RxChar %1").arg(count)); };
    OpenOnPty(port);
    pty.Write("abc");
    ASSERT_TRUE(journal.WaitFor(1));
    pty.CloseMaster();
    ASSERT_TRUE(journal.WaitFor(2)) << "the loss was never reported";
    EXPECT_FALSE(journal.WaitFor(3, 200)) << "the loss was reported more than once";
    EXPECT_EQ(journal.Entries(), QStringList({"RxChar 3", "Lost 21 5"}));

    port.OnException = nullptr;
    char buffer[8];
    EXPECT_EQ(port.Read(buffer, 8), 3) << "bytes received before the loss were dropped";
    EXPECT_EQ(std::string(buffer, 3), "abc");
    try {
        port.Read(buffer, 8);
        FAIL() << "a read on a lost line returned";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecReadFailed);
        EXPECT_EQ(e.WinCode(), EIO);
    }
    try {
        port.InputCount();
        FAIL() << "the input count of a lost line read as a quiet line";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecClearErrorFailed);
        EXPECT_EQ(e.WinCode(), EIO);
    }
    port.Close();
    try {
        port.Open();
        FAIL() << "a vanished device opened";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecOpenFailed);
        EXPECT_EQ(e.WinCode(), ENOENT);
    }
}

TEST_P(LostLine, LossWhileAHandlerRunsIsReportedAfterIt)
{
    port.OnRxChar = [this](TCustomComPort* sender, std::int32_t count) {
        pty.CloseMaster();
        char buffer[8];
        journal.Add(QString("read %1").arg(sender->Read(buffer, count)));
    };
    OpenOnPty(port);
    pty.Write("xy");
    ASSERT_TRUE(journal.WaitFor(2));
    EXPECT_FALSE(journal.WaitFor(3, 200));
    EXPECT_EQ(journal.Entries(), QStringList({"read 2", "Lost 21 5"}));
}

// The output queue draining after writes, under each delivery method.
class DrainedLine : public testing::TestWithParam<TSyncMethod> {
protected:
    DrainedLine()
    {
        port.SetPortName(QString::fromStdString(pty.Path()));
        port.SetSyncMethod(GetParam());
        port.SetEvents({evTxEmpty});
        port.OnTxEmpty = [this](TCustomComPort* sender) {
            journal.Add(QString("TxEmpty, %1 queued").arg(sender->OutputCount()));
        };
    }

    PtyPair pty;
    TJournal journal;
    TCustomComPort port;
};

TEST_P(DrainedLine, TxEmptyFiresOncePerDrainedBurst)
{
    OpenOnPty(port);
    EXPECT_FALSE(journal.WaitFor(1, 100)) << "an idle line reported an empty queue";
    port.WriteStr("first burst");
    ASSERT_TRUE(journal.WaitFor(1));
    EXPECT_FALSE(journal.WaitFor(2, 200)) << "one drained burst was reported twice";
    port.WriteStr("second burst");
    ASSERT_TRUE(journal.WaitFor(2));
    EXPECT_FALSE(journal.WaitFor(3, 200));
    const QStringList entries = journal.Entries();
    EXPECT_EQ(entries.first(), "TxEmpty, 0 queued");
    EXPECT_EQ(entries.last(), "TxEmpty, 0 queued");
}

INSTANTIATE_TEST_SUITE_P(EachMethod, DrainedLine, testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const testing::TestParamInfo<TSyncMethod>& info) { return std::string(MethodName(info.param)); });

INSTANTIATE_TEST_SUITE_P(EachMethod, LostLine, testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const testing::TestParamInfo<TSyncMethod>& info) { return std::string(MethodName(info.param)); });

TEST_F(EventsOnPty, WithoutSynchronisingHandlersRunInTheEventThread)
{
    port.SetSyncMethod(smNone);
    OpenOnPty(port);
    pty.Write("abc");
    ASSERT_TRUE(journal.WaitFor(1));
    EXPECT_EQ(journal.Entries(), QStringList{"RxChar 3 off the GUI thread"});
}

} // namespace
