// The boot-loader probe as a user runs it: the real program against a
// pseudo-terminal whose other end answers like the board's boot loader.
#include "BootLoaderDouble.h"
#include "BootLoaderProbe.h"
#include "ComErrors.h"
#include "fake/FakeComm.h"

#include <QProcess>

namespace {

struct ProbeRun {
    int exitCode = -1;
    QString out, err;
};

ProbeRun RunProbe(const QStringList& arguments)
{
    QProcess probe;
    probe.start(ZORBEL_PROBE_PATH, arguments);
    ProbeRun run;
    if (!probe.waitForFinished(30000)) {
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

TEST(Probe, FindsTheSpeedTheBootLoaderListensAt)
{
    PtyPair pty;
    BootLoaderDouble loader(pty, 57600);
    const ProbeRun run = RunProbe({QString::fromStdString(pty.Path())});
    EXPECT_EQ(run.out.toStdString(), "57600: in sync\n28800: no answer\n") << run.err.toStdString();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GE(loader.SyncRequests(), 6) << "one request at 57600, five at 28800";
}

TEST(Probe, NoAnswerAtAnyGivenSpeedExitsWithOne)
{
    PtyPair pty;
    BootLoaderDouble loader(pty, 115200);
    const ProbeRun run = RunProbe({QString::fromStdString(pty.Path()), "28800"});
    EXPECT_EQ(run.out.toStdString(), "28800: no answer\n") << run.err.toStdString();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(loader.SyncRequests(), 5);
}

TEST(Probe, ErrorsAndMisuseExitWithTwo)
{
    ProbeRun run = RunProbe({"/dev/zorbel-no-such-port"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.toStdString(),
              "zorbel-probe: /dev/zorbel-no-such-port: Unable to open com port (Error: 2): No such file or directory\n");
    run = RunProbe({});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.startsWith("usage: zorbel-probe PORT [SPEED...]")) << run.err.toStdString();
    run = RunProbe({"/dev/null", "fast"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("not a speed: fast")) << run.err.toStdString();
}

// The board's line fails under the probe and fails again as the probe
// closes it on the way out: the first error is the one reported, and the
// program goes on.
TEST(Probe, AFailingCloseDuringAnErrorNeverEscapes)
{
    TFakeCommLayer device;
    TCustomComPort port(nullptr, device);
    port.SetPortName("/dev/ttyFAKE0");
    device.Fail("EscapeCommFunction", EIO);
    device.Fail("PurgeComm", EIO);
    try {
        ProbeBootLoader(port, 57600);
        FAIL() << "the probe ignored a failing line";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecEscapeFailed);
    }
    // The close that failed left the port open; it closes once the line works.
    device.ClearFailures();
    EXPECT_NO_THROW(port.Close());
    EXPECT_FALSE(port.Connected());
}

} // namespace
