// The monitor's flash: the flasher's output read as lines and progress, and
// a run of a stand-in avrdude on a pseudo-terminal, first on PATH.

#include "EventWait.h"
#include "FlashProgress.h"
#include "FlashSession.h"
#include "PtyPair.h"
#include "PtyProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

// Messages show texts as text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Steps = std::vector<std::pair<QString, int>>;

// Everything the stream gives, in order, as the session reads it: each line,
// each new bar state.
Steps ProgressOf(const QByteArray& stream, qsizetype chunk)
{
    TFlashOutputSplitter splitter;
    Steps steps;
    auto take = [&](const QString& line) {
        if (const auto progress = ParseFlashProgress(line))
            if (steps.empty() || steps.back() != std::pair(progress->phase, progress->percent))
                steps.emplace_back(progress->phase, progress->percent);
    };
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
        for (const QString& line : splitter.Feed(stream.mid(at, chunk)))
            take(line);
        take(splitter.Pending());
    }
    take(splitter.TakePending());
    return steps;
}

// What avrdude 7.1 printed on a terminal (output processing on, so "\r\n")
// flashing 1024 bytes through a boot loader that answered, cut short.
const QByteArray RealSevenOne =
    "avrdude: writing 1024 bytes flash ...\r\n\r\n"
    "\rWriting |                                                    | 0% 0.00 s "
    "\rWriting | ######                                             | 12% 0.00 s "
    "\rWriting | ################################################## | 100% 0.00 s \r\n\r\n"
    "avrdude: 1024 bytes of flash written\r\n"
    "avrdude: verifying flash memory against img.hex\r\n\r\n"
    "\rReading |                                                    | 0% 0.00 s "
    "\rReading | ###############################                    | 62% 0.00 s "
    "\rReading | ################################################## | 100% 0.00 s \r\n\r\n"
    "avrdude: 1024 bytes of flash verified\r\n\r\navrdude done.  Thank you.\r\n\r\n";

} // namespace

TEST(FlashProgress, ReadsTheBarsOfEachFlasherVersionAndNothingElse)
{
    struct Case {
        const char* line;
        std::optional<TFlashProgress> expected;
    };
    const QString hashes50(50, QLatin1Char('#'));
    const Case cases[] = {
        // 7.x: a blank before the unit and after it.
        {"Writing |                                                    | 0% 0.00 s ", TFlashProgress {"Writing", 0}},
        {"Reading | ######                                             | 12% 0.00 s ", TFlashProgress {"Reading", 12}},
        {"Writing | ################################################## | 100% 12.34 s ",
         TFlashProgress {"Writing", 100}},
        // 6.x: the unit straight after the time.
        {"Writing | ################################################## | 100% 0.00s", TFlashProgress {"Writing", 100}},
        {"Reading | ######################                             | 45% 1.23s", TFlashProgress {"Reading", 45}},
        // A bar stopped by a failure, the rest drawn with '-'.
        {"Writing | #####--------------------------------------------- | 10% 3.10 s ", TFlashProgress {"Writing", 10}},
        // Not bars.
        {"avrdude: writing flash (1234 bytes):", std::nullopt},
        {"avrdude: 1024 bytes of flash written", std::nullopt},
        {"Writing | ######", std::nullopt},
        {"Writing | ###### | 12", std::nullopt},
        {"Writing | ###### | 12% 0.0", std::nullopt},
        {"Writing | ###### | 101% 0.00s", std::nullopt},
        {"Writing | abc | 12% 0.00s", std::nullopt},
        {"| ###### | 12% 0.00s", std::nullopt},
        {"", std::nullopt},
        {"\x01\x7f| | %% s", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseFlashProgress(QString::fromLatin1(c.line)), c.expected) << "line: \"" << c.line << '"';
}

TEST(FlashProgress, SplitsOnEveryLineEndAndHoldsThePartialLine)
{
    struct Case {
        QByteArray stream;
        QStringList lines;
        QString pending;
    };
    const Case cases[] = {
        {"one\ntwo\n", {"one", "two"}, ""},
        {"one\r\ntwo\r\n", {"one", "two"}, ""},
        {"\n\n", {"", ""}, ""},
        {"\rA | # | 2% 0.00 s \rA | ## | 4% 0.00 s ", {"A | # | 2% 0.00 s "}, "A | ## | 4% 0.00 s "},
        {"half a li", {}, "half a li"},
        {"text\r\rmore", {"text"}, "more"},
    };
    for (const Case& c : cases) {
        // Whole, and a byte at a time: a read may end anywhere.
        TFlashOutputSplitter whole;
        EXPECT_EQ(whole.Feed(c.stream), c.lines) << c.stream.toStdString();
        EXPECT_EQ(whole.Pending(), c.pending) << c.stream.toStdString();
        TFlashOutputSplitter bytewise;
        QStringList lines;
        for (const char byte : c.stream)
            lines += bytewise.Feed(QByteArrayView(&byte, 1));
        EXPECT_EQ(lines, c.lines) << "fed a byte at a time: " << c.stream.toStdString();
        EXPECT_EQ(bytewise.TakePending(), c.pending);
        EXPECT_EQ(bytewise.Pending(), QString());
    }
}

TEST(FlashProgress, FollowsTheRealOutputAcrossPhasesHoweverItIsRead)
{
    // The percentage starts again at 0 when reading follows writing.
    const Steps expected = {{"Writing", 0}, {"Writing", 12}, {"Writing", 100},
                            {"Reading", 0}, {"Reading", 62}, {"Reading", 100}};
    for (const qsizetype chunk : {qsizetype(1), qsizetype(7), qsizetype(64), RealSevenOne.size()})
        EXPECT_EQ(ProgressOf(RealSevenOne, chunk), expected) << "read in pieces of " << chunk;
}

// A session against the stand-in, first on PATH, with a pseudo-terminal as
// the board's port and a working folder of its own.
class FlashSessionRun : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(workDir.isValid());
        oldPath = qgetenv("PATH");
        qputenv("PATH", QByteArray(ZORBEL_STANDIN_DIR) + ":" + oldPath);
        qputenv("ZORBEL_STANDIN_RECORD", QFile::encodeName(RecordPath()));
        QObject::connect(&session, &TFlashSession::Output, [this](const QString& line) { output << line; });
        QObject::connect(&session, &TFlashSession::Progress,
                         [this](int percent, const QString& phase) { progress.emplace_back(phase, percent); });
        QObject::connect(&session, &TFlashSession::Finished, [this](int status, bool normal) {
            finished = std::pair(status, normal);
            ++finishedCount;
        });
    }
    void TearDown() override
    {
        qputenv("PATH", oldPath);
        for (const char* name : {"ZORBEL_STANDIN_RECORD", "ZORBEL_STANDIN_EXIT", "ZORBEL_STANDIN_STYLE",
                                 "ZORBEL_STANDIN_HOLD"})
            qunsetenv(name);
    }

    QString RecordPath() const { return recordDir.filePath("record"); }
    // The stand-in's record, as key and value pairs in order.
    std::vector<std::pair<QString, QString>> Record() const
    {
        QFile file(RecordPath());
        std::vector<std::pair<QString, QString>> entries;
        if (!file.open(QIODevice::ReadOnly))
            return entries;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const qsizetype at = line.indexOf('=');
            if (at > 0)
                entries.emplace_back(QString::fromLocal8Bit(line.left(at)), QString::fromLocal8Bit(line.mid(at + 1)));
        }
        return entries;
    }
    QStringList RecordValues(const QString& key) const
    {
        QStringList values;
        for (const auto& [k, v] : Record())
            if (k == key)
                values << v;
        return values;
    }
    bool Start(const QString& speed)
    {
        QString error;
        const bool started =
            session.Start(QString::fromStdString(board.Path()), speed, workDir.path(), &error);
        EXPECT_TRUE(started) << error.toStdString();
        return started;
    }
    bool WaitFinished() { return RunEventsUntil([this] { return finished.has_value(); }, 20000); }
    bool WaitOutput(const QString& line)
    {
        return RunEventsUntil([&] { return output.contains(line); }, 20000);
    }

    QTemporaryDir workDir;
    QTemporaryDir recordDir;
    PtyPair board;
    QByteArray oldPath;
    TFlashSession session;
    QStringList output;
    Steps progress;
    std::optional<std::pair<int, bool>> finished;
    int finishedCount = 0;
};

TEST_F(FlashSessionRun, RunsTheSevenPiecesInTheWorkingFolderOnATerminalOfItsOwn)
{
    struct Case {
        QString speed;
        QString image;
    };
    for (const Case& c : {Case {"57600", "datalogger_new.hex"}, Case {"28800", "datalogger_old.hex"}}) {
        finished.reset();
        ASSERT_TRUE(Start(c.speed));
        EXPECT_TRUE(session.IsRunning());
        QString busy;
        EXPECT_FALSE(session.Start(QString::fromStdString(board.Path()), c.speed, workDir.path(), &busy))
            << "one flasher at a time";
        EXPECT_EQ(busy, QString::fromLocal8Bit(std::strerror(EBUSY)));
        ASSERT_TRUE(WaitFinished()) << "the flasher never finished at " << c.speed.toStdString();
        EXPECT_FALSE(session.IsRunning());
        const QStringList expected = {"-c", "arduino", "-p", "m328p", "-P", QString::fromStdString(board.Path()),
                                      "-b", c.speed, "-U", "flash:w:" + c.image + ":i"};
        EXPECT_EQ(RecordValues("arg"), expected);
        EXPECT_EQ(RecordValues("cwd"), QStringList {QDir(workDir.path()).canonicalPath()});
        EXPECT_EQ(RecordValues("terminal"), QStringList {"yes"}) << "not started on a controlling terminal";
        EXPECT_EQ(RecordValues("port"), QStringList {"opened"});
    }
}

TEST_F(FlashSessionRun, ReportsEachBarStateAndEveryOtherLineOfEitherVersion)
{
    const Steps steps = {{"Writing", 0},  {"Writing", 12}, {"Writing", 25}, {"Writing", 37}, {"Writing", 50},
                         {"Writing", 62}, {"Writing", 75}, {"Writing", 87}, {"Writing", 100}, {"Reading", 0},
                         {"Reading", 12}, {"Reading", 25}, {"Reading", 37}, {"Reading", 50}, {"Reading", 62},
                         {"Reading", 75}, {"Reading", 87}, {"Reading", 100}};
    const QString port = QString::fromStdString(board.Path());
    const QStringList lines = {"avrdude: port " + port + " opened",
                               "avrdude: AVR device initialized and ready to accept instructions",
                               "avrdude: device signature = 0x1e950f (probably m328p)",
                               "avrdude: erasing chip",
                               "avrdude: writing 1024 bytes flash ...",
                               "avrdude: 1024 bytes of flash written",
                               "avrdude: verifying flash memory against datalogger_new.hex",
                               "avrdude: 1024 bytes of flash verified",
                               "avrdude done.  Thank you."};
    for (const char* style : {"7", "6"}) {
        qputenv("ZORBEL_STANDIN_STYLE", style);
        output.clear();
        progress.clear();
        finished.reset();
        ASSERT_TRUE(Start("57600"));
        ASSERT_TRUE(WaitFinished());
        EXPECT_EQ(progress, steps) << "bars as " << style << ".x draws them";
        EXPECT_EQ(output, lines) << "bars as " << style << ".x draws them";
    }
}

TEST_F(FlashSessionRun, FinishesWithTheFlashersExitStatus)
{
    for (const int status : {0, 1, 3}) {
        qputenv("ZORBEL_STANDIN_EXIT", QByteArray::number(status));
        finished.reset();
        finishedCount = 0;
        ASSERT_TRUE(Start("57600"));
        ASSERT_TRUE(WaitFinished());
        EXPECT_EQ(finished, std::pair(status, true));
        RunEventsFor(50);
        EXPECT_EQ(finishedCount, 1) << "one end, one Finished";
    }
}

TEST_F(FlashSessionRun, AFlasherThatFindsThePortHeldFailsWithTheSystemsText)
{
    // Held as the monitor holds an open port: flock and exclusive mode.
    const int held = ::open(board.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::ioctl(held, TIOCEXCL), 0);
    ASSERT_TRUE(Start("57600"));
    ASSERT_TRUE(WaitFinished());
    ::ioctl(held, TIOCNXCL);
    ::close(held);
    EXPECT_EQ(finished, std::pair(1, true));
    EXPECT_EQ(RecordValues("port"), QStringList {QString::fromLocal8Bit(std::strerror(EBUSY))});
    EXPECT_TRUE(output.contains(QStringLiteral("avrdude OS error: cannot open port %1: %2")
                                    .arg(QString::fromStdString(board.Path()),
                                         QString::fromLocal8Bit(std::strerror(EBUSY)))))
        << output.join('\n').toStdString();
    EXPECT_TRUE(progress.empty());
}

TEST_F(FlashSessionRun, AStartThatCannotHappenSaysWhyInTheSystemsWords)
{
    QTemporaryDir emptyDir;
    struct Case {
        QByteArray path;
        QString workingDir;
        QString error;
    };
    const QString missingDir = workDir.filePath("gone");
    const Case cases[] = {
        {QFile::encodeName(emptyDir.path()), workDir.path(),
         "avrdude: " + QString::fromLocal8Bit(std::strerror(ENOENT))},
        {ZORBEL_STANDIN_DIR, missingDir, missingDir + ": " + QString::fromLocal8Bit(std::strerror(ENOENT))},
    };
    for (const Case& c : cases) {
        qputenv("PATH", c.path);
        QString error;
        EXPECT_FALSE(session.Start(QString::fromStdString(board.Path()), "57600", c.workingDir, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(session.IsRunning());
    }
    RunEventsFor(50);
    EXPECT_FALSE(finished.has_value()) << "a start that failed has no end to report";
}

TEST_F(FlashSessionRun, CancelEndsTheFlasherAndReportsTheSignal)
{
    struct Case {
        const char* hold;
        int signal;
    };
    for (const Case& c : {Case {"1", SIGTERM}, Case {"ignore-term", SIGKILL}}) {
        qputenv("ZORBEL_STANDIN_HOLD", c.hold);
        output.clear();
        finished.reset();
        ASSERT_TRUE(Start("57600"));
        ASSERT_TRUE(WaitOutput("avrdude done.  Thank you."));
        EXPECT_TRUE(session.IsRunning());
        session.Cancel();
        ASSERT_TRUE(WaitFinished()) << "still running after Cancel: " << c.hold;
        EXPECT_EQ(finished, std::pair(c.signal, false)) << c.hold;
    }
}

TEST_F(FlashSessionRun, DestroyingTheSessionEndsAndCollectsARunningFlasher)
{
    for (const char* hold : {"1", "ignore-term"}) {
        qputenv("ZORBEL_STANDIN_HOLD", hold);
        output.clear();
        auto running = std::make_unique<TFlashSession>();
        QObject::connect(running.get(), &TFlashSession::Output, [this](const QString& line) { output << line; });
        QString error;
        ASSERT_TRUE(running->Start(QString::fromStdString(board.Path()), "57600", workDir.path(), &error))
            << error.toStdString();
        ASSERT_TRUE(WaitOutput("avrdude done.  Thank you."));
        const QStringList pids = RecordValues("pid");
        ASSERT_EQ(pids.size(), 1);
        const pid_t pid = pids.front().toInt();
        ASSERT_EQ(::kill(pid, 0), 0) << "the stand-in should still run";
        running.reset();
        // Collected, not left a zombie: the number is free again.
        errno = 0;
        EXPECT_EQ(::kill(pid, 0), -1) << hold;
        EXPECT_EQ(errno, ESRCH) << hold;
    }
}

// Below the session, as it runs where the kernel has no process
// descriptors: the output ends (EIO on the terminal, once all of it was
// read) when the program ends, and then the program can be collected.
TEST_F(FlashSessionRun, TheEndOfOutputIsTheProgramsEndAndItsStatusFollows)
{
    qputenv("ZORBEL_STANDIN_EXIT", "5");
    TPtyProcess process;
    const TPtyStartError failure =
        process.Start("avrdude", {"-P", board.Path()}, QFile::encodeName(workDir.path()).toStdString());
    ASSERT_EQ(failure.step, TPtyStartStep::None) << failure.error;
    ASSERT_TRUE(process.Running());
    QByteArray printed;
    long n = 0;
    while (n >= 0) {
        pollfd ready {process.OutputHandle(), POLLIN, 0};
        ASSERT_EQ(::poll(&ready, 1, 20000), 1) << "no output nor its end";
        char buffer[256];
        n = process.Read(buffer, sizeof buffer);
        if (n > 0)
            printed.append(buffer, n);
    }
    EXPECT_TRUE(printed.endsWith("avrdude done.  Thank you.\n\n")) << printed.toStdString();
    EXPECT_FALSE(printed.contains("\r\n")) << "the terminal changed the program's line ends";
    TPtyExit exit;
    ASSERT_TRUE(process.Collect(true, exit));
    EXPECT_EQ(exit.status, 5);
    EXPECT_TRUE(exit.normal);
    EXPECT_FALSE(process.Running());
}
