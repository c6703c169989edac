// The port watcher over a tree of our own, as ports come and go.
#include "EventWait.h"
#include "PortWatcher.h"
#include "SysfsTree.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <functional>
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
    QObject onThread;
    onThread.moveToThread(&thread);
    thread.start();
    TPortWatcher* watcher = nullptr;
    QMetaObject::invokeMethod(&onThread, [&] { watcher = new TPortWatcher(tree.Source()); },
                              Qt::BlockingQueuedConnection);
    ASSERT_NE(watcher, nullptr) << "the watcher was not made on its thread";
    std::atomic<QThread*> emittedOn{nullptr};
    QStringList seen;
    QObject::connect(watcher, &TPortWatcher::PortArrived, watcher, [&](const QString&) { emittedOn = QThread::currentThread(); },
                     Qt::DirectConnection);
    QObject receiver;
    QObject::connect(watcher, &TPortWatcher::PortArrived, &receiver, [&](const QString& name) { seen.append(name); });
    AddSerial(tree, "ttyUSB0");
    EXPECT_TRUE(RunEventsUntil([&] { return !seen.isEmpty(); }, 3000)) << "no report reached this thread";
    EXPECT_EQ(seen, QStringList{"/dev/ttyUSB0"});
    EXPECT_EQ(emittedOn.load(), &thread);
    QMetaObject::invokeMethod(watcher, [watcher] { delete watcher; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

// A port that arrives while the watcher reads the list for the first time:
// the listing is held up in a legacy port's UART type, which a pipe gives,
// while that port becomes real and its device node appears.
TEST(PortWatcher, APortArrivingWhileTheFirstListIsReadIsReported)
{
    SysfsTree tree;
    tree.Device("platform/serial8250", "platform", "serial8250");
    tree.Tty("ttyS9", "platform/serial8250");
    const QString type = tree.Listing() + "/ttyS9/type";
    ASSERT_EQ(::mkfifo(type.toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QDir().mkpath(tree.Path("dev")));
    const TPortSource source{tree.Listing(), tree.Path("dev")};
    std::thread arrival([&] {
        // Opened once the listing reads the pipe.
        const int pipe = ::open(type.toLocal8Bit().constData(), O_WRONLY | O_CLOEXEC);
        QFile real(tree.Path("staging/type"));
        if (real.open(QIODevice::WriteOnly))
            real.write("4\n");
        real.close();
        ::rename(real.fileName().toLocal8Bit().constData(), type.toLocal8Bit().constData());
        QFile node(tree.Path("dev/ttyS9"));
        node.open(QIODevice::WriteOnly);
        // What the listing reads: no UART yet.
        if (pipe >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(pipe, "0\n", 2);
            ::close(pipe);
        }
    });
    TPortWatcher watcher(source);
    // Should the listing not read the pipe, the arrival is not left waiting.
    const int reader = ::open(type.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
