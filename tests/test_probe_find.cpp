// The probe across every port, as a user runs it: the real program over a
// listing of our own whose ports are pseudo-terminals, one with a board
// that answers, one silent, one another program holds open.
#include "BootLoaderDouble.h"
#include "SysfsTree.h"

#include <QFileInfo>
#include <QProcess>

#include <optional>

namespace {

struct ProbeRun {
    int exitCode = -1;
    QString out, err;
    // Whether the probe said it could not see the programs of other users;
    // taken out of err, as it depends on who runs the tests.
    bool unseenNote = false;
};

const QString UnseenNote = "zorbel-probe: the programs of other users cannot be seen: a port one of them has open\n"
                           "without locking it was probed all the same (run as root to see every program)\n";

// The probe, reading the ports of the given listing instead of the
// machine's (and the processes of another table when given).
ProbeRun RunProbe(const QStringList& arguments, const QString& listing, const QString& deviceDir,
                  const QString& processDir = {})
{
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZORBEL_PORT_LISTING", listing);
    environment.insert("ZORBEL_PORT_DEVICE_DIR", deviceDir);
    if (!processDir.isEmpty())
        environment.insert("ZORBEL_PROCESS_DIR", processDir);
    probe.setProcessEnvironment(environment);
    probe.start(ZORBEL_PROBE_PATH, arguments);
    ProbeRun run;
    if (!probe.waitForFinished(60000)) {
        ADD_FAILURE() << "the probe did not end: " << probe.errorString().toStdString();
        probe.kill();
        probe.waitForFinished();
        return run;
    }
    run.exitCode = probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1;
    run.out = QString::fromLocal8Bit(probe.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(probe.readAllStandardError());
    run.unseenNote = run.err.contains(UnseenNote);
    run.err.remove(UnseenNote);
    return run;
}

// A listing whose entries are named after pseudo-terminals of /dev/pts.
class PtyListing : public SysfsTree {
public:
    PtyListing() { Device("pty", "pty"); }
    // The line behind a USB adapter of its own, as a board's is, or else on
    // no bus at all, as a built-in port seems.
    void Add(const std::string& path, bool usb = true)
    {
        const QString adapter = "usb1/1-" + QString::number(++adapters_);
        if (usb)
            UsbDevice(adapter, "2341", "0043", "cdc_acm");
        Tty(QFileInfo(QString::fromStdString(path)).fileName(),
            usb ? adapter + "/" + adapter.section('/', -1) + ":1.0" : "pty");
    }
    ProbeRun Run(const QStringList& arguments, const QString& processDir = {}) const
    {
        return RunProbe(arguments, Listing(), "/dev/pts", processDir);
    }

private:
    int adapters_ = 0;
};

// Another program on the machine holding lines: tests/LineHolderMain.cpp.
class LineHolder {
public:
    explicit LineHolder(const QStringList& arguments)
    {
        process_.start(ZORBEL_LINE_HOLDER_PATH, arguments);
        while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
        }
        EXPECT_EQ(process_.readLine().trimmed(), "ready") << "the line holder did not start";
    }
    ~LineHolder()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000)) {
            ADD_FAILURE() << "the line holder did not end";
            process_.kill();
            process_.waitForFinished();
        }
    }
    LineHolder(const LineHolder&) = delete;
    LineHolder& operator=(const LineHolder&) = delete;

    qint64 Pid() const { return process_.processId(); }

private:
    QProcess process_;
};

// Bytes the port's side sent that nobody has read from the master yet.
bool PendingOnMaster(const PtyPair& pty)
{
    pollfd fd{pty.Master(), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN) != 0;
}

QStringList Lines(const QString& text)
{
    QStringList lines = text.split('\n', Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

TEST(ProbeFind, TellsWhichPortAndSpeedAnswerAndLeavesABusyPortAlone)
{
    PtyPair answering, silent, busy;
    BootLoaderDouble board(answering, 57600);
    BootLoaderDouble nothing(silent, 0);
    BootLoaderDouble behindBusy(busy, 57600);
    TCustomComPort holder;
    holder.SetPortName(QString::fromStdString(busy.Path()));
    OpenOnPty(holder);
    PtyListing listing;
    for (const PtyPair* pty : {&answering, &silent, &busy})
        listing.Add(pty->Path());
    listing.Add("/dev/pts/999999");

    const ProbeRun run = listing.Run({"--find"});
    const QString a = QString::fromStdString(answering.Path());
    const QString s = QString::fromStdString(silent.Path());
    const QString b = QString::fromStdString(busy.Path());
    QStringList expected{a + ": 57600: in sync", s + ": no answer", b + ": busy, left alone"};
    expected.sort();
    EXPECT_EQ(Lines(run.out), expected) << run.out.toStdString();
    EXPECT_EQ(run.err.toStdString(),
              "zorbel-probe: /dev/pts/999999: Unable to open com port (Error: 2): No such file or directory\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(board.SyncRequests(), 1) << "the answering board is asked once, at 57600";
    EXPECT_EQ(nothing.SyncRequests(), 10) << "five requests at each of the two speeds";
    EXPECT_EQ(behindBusy.SyncRequests(), 0) << "the busy port was written to";
    EXPECT_TRUE(holder.Connected()) << "the program holding the busy port lost it";
}

// Who else holds a port's line: another program that opened it without
// locking it, or the far end of another line. (This test's process is the
// far end of every line, as it holds the master and the board the slave:
// that leaves a port free to probe.)
enum class Holder { Nobody, PlainUser, FarEndOfAnother };

struct FindCase {
    const char* what;
    Holder holder;
    bool usb;
    QStringList options;
    // The port's line after "PORT: ", "%1" standing for the holder's pid;
    // the port is probed (opened and written to) when it ends "in sync".
    QString says;
};

const char* const Busy = "busy, in use by line-holder (pid %1), left alone";
const FindCase FindCases[] = {
    {"a port another program opened plainly", Holder::PlainUser, true, {}, Busy},
    {"a port the far end of another line keeps open", Holder::FarEndOfAnother, true, {}, Busy},
    {"a port with no USB device behind it", Holder::Nobody, false, {},
     "not probed, no USB device behind it (--all probes it)"},
    {"a port with no USB device behind it, with --all", Holder::Nobody, false, {"--all"}, "57600: in sync"},
    {"a port another program opened plainly, with --all", Holder::PlainUser, false, {"--all"}, Busy},
};

TEST(ProbeFind, NeverTouchesAPortInUseNorOneWithoutUsbUnlessAsked)
{
    // Every line and the board behind it come first: under ThreadSanitizer
    // a process that started another program may start no thread after it.
    constexpr std::size_t Count = std::size(FindCases);
    PtyPair ptys[Count];
    std::optional<BootLoaderDouble> boards[Count];
    for (std::size_t i = 0; i < Count; ++i)
        boards[i].emplace(ptys[i], 57600);
    for (std::size_t i = 0; i < Count; ++i) {
        const FindCase& c = FindCases[i];
        SCOPED_TRACE(c.what);
        const PtyPair& pty = ptys[i];
        std::optional<BootLoaderDouble>& board = boards[i];
        const std::uint32_t speedBefore = board->LineSpeed();
        std::optional<LineHolder> holder;
        const QString path = QString::fromStdString(pty.Path());
        if (c.holder == Holder::PlainUser)
            holder.emplace(QStringList{path});
        else if (c.holder == Holder::FarEndOfAnother)
            holder.emplace(QStringList{"--far-end", path});
        PtyListing listing;
        listing.Add(pty.Path(), c.usb);

        const ProbeRun run = listing.Run(QStringList{"--find"} + c.options);
        const QString says = c.says.contains("%1") ? c.says.arg(holder ? holder->Pid() : 0) : c.says;
        EXPECT_EQ(run.out, path + ": " + says + "\n") << run.err.toStdString();
        const bool probed = says.endsWith("in sync");
        EXPECT_EQ(run.exitCode, probed ? 0 : 1);
        EXPECT_EQ(board->LineSpeed() != speedBefore, probed) << "the port's speed was set";
        // Stopped first, so that whatever arrived is either counted or still
        // waiting on the master.
        const int received = board->BytesReceived();
        board.reset();
        EXPECT_EQ(received > 0 || PendingOnMaster(pty), probed) << "bytes the probe wrote: " << received;
    }
}

// Another user's process, whose descriptors cannot be read, might hold the
// port: it is probed all the same, and the probe says what it could not see.
TEST(ProbeFind, SaysWhenTheProgramsOfOtherUsersCannotBeSeen)
{
    PtyPair pty;
    BootLoaderDouble board(pty, 57600);
    PtyListing listing;
    listing.Add(pty.Path());
    QTemporaryDir processes;
    ASSERT_TRUE(processes.isValid());
    // Descriptors that cannot be listed, as another user's are.
    ASSERT_TRUE(QDir(processes.path()).mkpath("100"));
    ASSERT_TRUE(QFile(processes.path() + "/100/fd").open(QIODevice::WriteOnly));
    // And a process of ours that holds nothing of interest.
    ASSERT_TRUE(QDir(processes.path()).mkpath("200/fd"));
    ASSERT_TRUE(QFile::link("/dev/null", processes.path() + "/200/fd/0"));

    const ProbeRun run = listing.Run({"--find"}, processes.path());
    EXPECT_EQ(run.out, QString::fromStdString(pty.Path()) + ": 57600: in sync\n");
    EXPECT_TRUE(run.unseenNote) << run.err.toStdString();
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
}

TEST(ProbeFind, NoBoardAtTheGivenSpeedsExitsWithOne)
{
    PtyPair pty;
    BootLoaderDouble board(pty, 57600);
    PtyListing listing;
    listing.Add(pty.Path());
    const ProbeRun run = listing.Run({"--find", "28800"});
    EXPECT_EQ(run.out, QString::fromStdString(pty.Path()) + ": no answer\n");
    EXPECT_EQ(run.err, "zorbel-probe: no boot loader answered on any port\n");
    EXPECT_EQ(run.exitCode, 1);
}

TEST(ProbeFind, MisuseExitsWithTwo)
{
    PtyListing listing;
    const QStringList misuses[] = {{"--find", "fast"}, {"--find", "--all", "fast"}, {"--all"}, {"--list", "extra"},
                                   {"--lost"}};
    for (const QStringList& arguments : misuses) {
        const ProbeRun run = listing.Run(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("usage: zorbel-probe")) << run.err.toStdString();
        EXPECT_EQ(run.out, "");
    }
}

TEST(ProbeList, EachPortWithItsDetails)
{
    SysfsTree tree;
    tree.UsbDevice("usb1/1-1/1-1.2", "0403", "6001", "ftdi_sio");
    tree.Attribute("usb1/1-1/1-1.2", "manufacturer", "FTDI\n");
    tree.Attribute("usb1/1-1/1-1.2", "product", "FT232R USB UART\n");
    tree.Attribute("usb1/1-1/1-1.2", "serial", "A50285BI\n");
    tree.Device("usb1/1-1/1-1.2/1-1.2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    tree.Tty("ttyUSB0", "usb1/1-1/1-1.2/1-1.2:1.0/ttyUSB0");
    tree.Device("pnp0/00:04", "pnp", "serial");
    tree.Tty("ttyS0", "pnp0/00:04", 4);
    tree.Tty("ttyUSB9", "nowhere");
    const ProbeRun run = RunProbe({"--list"}, tree.Listing(), "/dev");
    EXPECT_EQ(run.out.toStdString(), "/dev/ttyS0: Built-in serial port (driver serial)\n"
                                     "/dev/ttyUSB0: FT232R USB UART \u2014 FTDI (USB 0403:6001, serial A50285BI, "
                                     "at 1-1.2, driver ftdi_sio)\n"
                                     "/dev/ttyUSB9:\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
}

} // namespace
