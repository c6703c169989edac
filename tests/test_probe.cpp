// The boot-loader probe as a user runs it: the real program against a
// pseudo-terminal whose other end answers like the board's boot loader.
#include "BootLoaderProbe.h"
#include "ComErrors.h"
#include "PtyPair.h"
#include "fake/FakeComm.h"
#include "platform/TermiosMapping.h"

#include <QProcess>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

namespace {

// Plays the boot loader on the far end of the line: answers each sync
// request in sync, but only while the line runs at the speed it listens at.
class BootLoaderDouble {
public:
    BootLoaderDouble(const PtyPair& pty, std::uint32_t listensAt) : master_(pty.Master()), listensAt_(listensAt)
    {
        // Without a descriptor on the port's side the line reads as hung up
        // between the probe's opens.
        slave_ = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(slave_, 0) << "cannot open " << pty.Path();
        if (::pipe(stop_) != 0)
            ADD_FAILURE() << "pipe failed";
        thread_ = std::thread([this] { Serve(); });
    }
    ~BootLoaderDouble()
    {
        [[maybe_unused]] const ssize_t n = ::write(stop_[1], "s", 1);
        thread_.join();
        ::close(stop_[0]);
        ::close(stop_[1]);
        ::close(slave_);
    }

    int SyncRequests() const { return requests_; }

private:
    // The master side reports the terminal settings of the port's side.
    std::uint32_t LineSpeed() const
    {
        Comm::TTermios2 tio{};
        return ::ioctl(master_, _IOR('T', 0x2A, Comm::TTermios2), &tio) == 0 ? tio.c_ospeed : 0;
    }

    void Serve()
    {
        std::string pending;
        for (;;) {
            pollfd fds[2] = {{master_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 || fds[1].revents != 0)
                return;
            char buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                return;
            pending.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t at; (at = pending.find("\x30\x20")) != std::string::npos;) {
                pending.erase(0, at + 2);
                ++requests_;
                if (LineSpeed() == listensAt_ && ::write(master_, "\x14\x10", 2) != 2)
                    return;
            }
        }
    }

    int master_;
    int slave_ = -1;
    std::uint32_t listensAt_;
    int stop_[2] = {-1, -1};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

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
