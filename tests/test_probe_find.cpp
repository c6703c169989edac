// The probe across every port, as a user runs it: the real program over a
// listing of our own whose ports are pseudo-terminals, one with a board
// that answers, one silent, one another program holds open.
#include "BootLoaderDouble.h"
#include "SysfsTree.h"

#include <QFileInfo>
#include <QProcess>

namespace {

struct ProbeRun {
    int exitCode = -1;
    QString out, err;
};

// The probe, reading the ports of the given listing instead of the
// machine's.
ProbeRun RunProbe(const QStringList& arguments, const QString& listing, const QString& deviceDir)
{
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZORBEL_PORT_LISTING", listing);
    environment.insert("ZORBEL_PORT_DEVICE_DIR", deviceDir);
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
    return run;
}

// A listing whose entries are named after pseudo-terminals of /dev/pts.
class PtyListing : public SysfsTree {
public:
    PtyListing() { Device("pty", "pty"); }
    void Add(const std::string& path) { Tty(QFileInfo(QString::fromStdString(path)).fileName(), "pty"); }
    ProbeRun Run(const QStringList& arguments) const { return RunProbe(arguments, Listing(), "/dev/pts"); }
};

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
    listing.Tty("999999", "pty");

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
    const QStringList misuses[] = {{"--find", "fast"}, {"--list", "extra"}, {"--lost"}};
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
