// The port watcher over a tree of our own, as ports come and go.
#include "EventWait.h"
#include "HandOver.h"
#include "Journal.h"
#include "PortWatcher.h"
#include "SysfsTree.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// The watcher's reports, "+name" for an arrival and "-name" for a removal.
class Reports {
public:
    explicit Reports(TPortWatcher& watcher)
    {
        QObject::connect(&watcher, &TPortWatcher::PortArrived, &watcher, [this](const QString& name) { seen.append("+" + name); });
        QObject::connect(&watcher, &TPortWatcher::PortRemoved, &watcher, [this](const QString& name) { seen.append("-" + name); });
    }
    // Waits for count reports (bounded), then a little longer for any
    // report that should not come.
    QStringList WaitFor(qsizetype count)
    {
        EXPECT_TRUE(RunEventsUntil([&] { return seen.size() >= count; }, 3000))
            << "only these reports came: " << seen.join(' ').toStdString();
        RunEventsFor(300);
        return seen;
    }
    QStringList seen;
};

// Runs calls on the thread it lives in and waits for each (bounded). A call
// goes there as an event of our own, marked at both ends, and its end comes
// back through a promise: Qt's queue and its blocking connection hand over
// behind locks ThreadSanitizer cannot see.
class ThreadDoor : public QObject {
public:
    bool Run(std::function<void()> work)
    {
        auto* call = new Call(std::move(work));
        const std::future<void> done = call->done.get_future();
        ReleaseHandOver(call);
        QCoreApplication::postEvent(this, call);
        return done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    }

protected:
    bool event(QEvent* e) override
    {
        AcquireHandOver(e);
        if (e->type() != CallType)
            return QObject::event(e);
        static_cast<Call*>(e)->work();
        static_cast<Call*>(e)->done.set_value();
        return true;
    }

private:
    static inline const QEvent::Type CallType = static_cast<QEvent::Type>(QEvent::registerEventType());
    struct Call : QEvent {
        explicit Call(std::function<void()> w) : QEvent(CallType), work(std::move(w)) {}
        std::function<void()> work;
        std::promise<void> done;
    };
};

void AddSerial(SysfsTree& tree, const QString& name)
{
    tree.Tty(name, "platform/serial8250");
}

struct WatchCase {
    const char* what;
    QStringList before;
    std::function<void(SysfsTree&)> change;
    QStringList reported;
};

const WatchCase WatchCases[] = {
    {"a port arrives", {}, [](SysfsTree& t) { AddSerial(t, "ttyUSB0"); }, {"+/dev/ttyUSB0"}},
    {"a port goes", {"ttyUSB0", "ttyACM0"}, [](SysfsTree& t) { t.RemoveTty("ttyUSB0"); }, {"-/dev/ttyUSB0"}},
    {"one goes while another arrives", {"ttyACM0"},
     [](SysfsTree& t) {
         AddSerial(t, "ttyUSB1");
         t.RemoveTty("ttyACM0");
     },
     {"-/dev/ttyACM0", "+/dev/ttyUSB1"}},
    {"a port goes and comes back at once", {"ttyUSB0"},
     [](SysfsTree& t) {
         t.RemoveTty("ttyUSB0");
         AddSerial(t, "ttyUSB0");
     },
     {"-/dev/ttyUSB0", "+/dev/ttyUSB0"}},
    {"something that is no port", {"ttyUSB0"}, [](SysfsTree& t) { QDir(t.Listing()).mkdir("tty7"); }, {}},
};

void PrintTo(const WatchCase& c, std::ostream* os)
{
    *os << c.what;
}

class PortWatcherTable : public testing::TestWithParam<WatchCase> {};

TEST_P(PortWatcherTable, ReportsTheChange)
{
    const WatchCase& c = GetParam();
    SysfsTree tree;
    tree.Device("platform/serial8250", "platform", "serial8250");
    for (const QString& name : c.before)
        AddSerial(tree, name);
    TPortWatcher watcher(tree.Source());
    ASSERT_TRUE(watcher.Watching()) << "inotify is needed to watch the tree";
    Reports reports(watcher);
    QElapsedTimer clock;
    clock.start();
    c.change(tree);
    const QStringList seen = reports.WaitFor(c.reported.size());
    EXPECT_EQ(seen, c.reported);
    if (!c.reported.isEmpty()) {
        EXPECT_LT(clock.elapsed(), 300 + 2000) << "reported well after the change";
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, PortWatcherTable, testing::ValuesIn(WatchCases),
                         [](const testing::TestParamInfo<WatchCase>& info) { return std::to_string(info.index); });

TEST(PortWatcher, ManyWatchersAndOneDeletedFromAnothersSignal)
{
    SysfsTree tree;
    tree.Device("platform/serial8250", "platform", "serial8250");
    auto* first = new TPortWatcher(tree.Source());
    QPointer<TPortWatcher> second = new TPortWatcher(tree.Source());
    QPointer<TPortWatcher> self = new TPortWatcher(tree.Source());
    TPortWatcher survivor(tree.Source());
    Reports reports(survivor);
    // The first one's report deletes the second before it has reported,
    // and the third deletes itself from its own first report.
    QObject::connect(first, &TPortWatcher::PortArrived, first, [&] { delete second.data(); });
    QObject::connect(self.data(), &TPortWatcher::PortArrived, self.data(), [&] { delete self.data(); });
    AddSerial(tree, "ttyUSB0");
    AddSerial(tree, "ttyUSB1");
    EXPECT_EQ(reports.WaitFor(2), QStringList({"+/dev/ttyUSB0", "+/dev/ttyUSB1"}));
    EXPECT_TRUE(self.isNull()) << "the watcher that deletes itself has reported";
    tree.RemoveTty("ttyUSB0");
    EXPECT_EQ(reports.WaitFor(3).last(), "-/dev/ttyUSB0") << "the survivor goes on reporting";
    delete first;
    delete second.data();
}

TEST(PortWatcher, ReportsOnTheThreadThatOwnsIt)
{
    SysfsTree tree;
    tree.Device("platform/serial8250", "platform", "serial8250");
    QThread thread;
    // Calls into the thread go through an object that lives there.
    ThreadDoor onThread;
    onThread.moveToThread(&thread);
    thread.start();
    // The reports are taken on the watcher's thread, and noted with the
    // thread they came on.
    TJournal seen;
    TPortWatcher* watcher = nullptr;
    ASSERT_TRUE(onThread.Run([&] {
        watcher = new TPortWatcher(tree.Source());
        QObject::connect(watcher, &TPortWatcher::PortArrived, watcher, [&](const QString& name) {
            seen.Add(QThread::currentThread() == &thread ? name : name + " on another thread");
        });
    })) << "the call into the thread did not return";
    ASSERT_NE(watcher, nullptr) << "the watcher was not made on its thread";
    AddSerial(tree, "ttyUSB0");
    EXPECT_TRUE(seen.WaitFor(1, 3000)) << "no report came";
    EXPECT_EQ(seen.Entries(), QStringList{"/dev/ttyUSB0"});
    EXPECT_TRUE(onThread.Run([watcher] { delete watcher; })) << "the watcher was not deleted on its thread";
    thread.quit();
    EXPECT_TRUE(thread.wait(QDeadlineTimer(5000))) << "the thread did not end";
}

// A port that arrives while the watcher reads the list for the first time:
// the listing is held up in a legacy port's UART type, which a pipe gives,
// while that port becomes real and its device node appears.
TEST(PortWatcher, APortArrivingWhileTheFirstListIsReadIsReported)
{
    SysfsTree tree;
    tree.Device("platform/serial8250", "platform", "serial8250");
    tree.Tty("ttyS9", "platform/serial8250");
    const QByteArray type = QFile::encodeName(tree.Listing() + "/ttyS9/type");
    ASSERT_EQ(::mkfifo(type.constData(), 0600), 0);
    ASSERT_TRUE(QDir().mkpath(tree.Path("dev")));
    std::thread arrival([&] {
        // Opened once the listing reads the pipe.
        const int pipe = ::open(type.constData(), O_WRONLY | O_CLOEXEC);
        if (QFile real(tree.Path("staging/type")); real.open(QIODevice::WriteOnly))
            real.write("4\n");
        ::rename(QFile::encodeName(tree.Path("staging/type")).constData(), type.constData());
        QFile node(tree.Path("dev/ttyS9"));
        node.open(QIODevice::WriteOnly);
        // What the listing reads: no UART yet.
        if (pipe >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(pipe, "0\n", 2);
            ::close(pipe);
        }
    });
    TPortWatcher watcher({tree.Listing(), tree.Path("dev")});
    // Should the listing not read the pipe, the arrival is not left waiting.
    const int reader = ::open(type.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    arrival.join();
    if (reader >= 0)
        ::close(reader);
    EXPECT_TRUE(watcher.Ports().isEmpty()) << "the listing did not wait for the pipe";
    Reports reports(watcher);
    EXPECT_EQ(reports.WaitFor(1).join(' ').toStdString(), "+" + tree.Path("dev/ttyS9").toStdString());
}

TEST(PortWatcher, SourceThatCannotBeWatchedSaysSo)
{
    TPortWatcher watcher(TPortSource{"/nonexistent/class/tty", "/nonexistent/dev"});
    EXPECT_FALSE(watcher.Watching());
    EXPECT_TRUE(watcher.Ports().isEmpty());
}

} // namespace
