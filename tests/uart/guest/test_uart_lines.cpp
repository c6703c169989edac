// Modem-line events from the far end's lines, as the UART's modem-status
// interrupt reports them; a pseudo-terminal has no modem lines at all.

#include "RigPort.h"

namespace {

struct LineEventCase {
    const char* name;
    const char* changed; // the far end's lines while the one under test is off
    QString off;         // the journal entry when it drops
    QString on;          // and when it comes back
};

void PrintTo(const LineEventCase& c, std::ostream* out) { *out << c.name; }

class LineEvents : public RigCase, public testing::WithParamInterface<LineEventCase> {
protected:
    LineEvents()
    {
        Configure(port, br115200, fcNone);
        port.OnCTSChange = [this](TCustomComPort*, bool on) { journal.Add(QString("CTS %1").arg(on)); };
        port.OnDSRChange = [this](TCustomComPort*, bool on) { journal.Add(QString("DSR %1").arg(on)); };
        port.OnRLSDChange = [this](TCustomComPort*, bool on) { journal.Add(QString("RLSD %1").arg(on)); };
        port.OnRing = [this](TCustomComPort*) { journal.Add("Ring"); };
    }

    // Opening reports the lines as they are; the cases watch what follows.
    // The lines change at once: the port's line watch starts on a thread of
    // its own after Open has returned, and a change that lands before it
    // waits in the driver must still be reported.
    void OpenQuietly()
    {
        port.Open();
        journal.Clear();
    }

    TJournal journal;
    TCustomComPort port;
};

// A pseudo-terminal has no CTS, DSR or carrier to change.
TEST_P(LineEvents, EachChangeOfTheFarEndsLineIsReported)
{
    OpenQuietly();
    Far().SetLines(GetParam().changed);
    // The driver's view is read only afterwards: reading the lines while the
    // port's watch is not yet armed would take the change from it.
    ASSERT_TRUE(journal.WaitFor(1)) << "no event for the line going off (" << DriverView() << ")";
    Far().SetLines("CDK");
    ASSERT_TRUE(journal.WaitFor(2)) << "no event for the line coming back";
    EXPECT_EQ(journal.Entries().join(", ").toStdString(), (GetParam().off + ", " + GetParam().on).toStdString());
}

INSTANTIATE_TEST_SUITE_P(EachLine, LineEvents,
                         testing::Values(LineEventCase{"CTS", "DK", "CTS 0", "CTS 1"},
                                         LineEventCase{"DSR", "CK", "DSR 0", "DSR 1"},
                                         LineEventCase{"RLSD", "CD", "RLSD 0", "RLSD 1"}),
                         [](const testing::TestParamInfo<LineEventCase>& info) { return std::string(info.param.name); });

class RingAndIdle : public LineEvents {};

// The UART reports a ring at the trailing edge of RI; the far end holds it
// long enough for the emulated modem-status register to see both edges.
TEST_F(RingAndIdle, ARingPulseFiresOnRingOnce)
{
    OpenQuietly();
    Far().Pulse("R", 300);
    ASSERT_TRUE(journal.WaitFor(1)) << "OnRing never came";
    EXPECT_FALSE(journal.WaitFor(2, 500)) << "more than one event for one ring: " << journal.Entries().join(", ").toStdString();
    EXPECT_EQ(journal.Entries().join(", ").toStdString(), "Ring");
}

// The events come from the driver's wait for a line change, not from asking
// it over and over: an open port waiting for them uses next to no CPU.
TEST_F(RingAndIdle, AnOpenPortWaitingForEventsDoesNotSpin)
{
    OpenQuietly();
    const long long before = CpuMs();
    EXPECT_FALSE(journal.WaitFor(1, 1000)) << "an event came from a line that did not change";
    const long long used = CpuMs() - before;
    EXPECT_LT(used, 100) << "the port used " << used << " ms of CPU in one idle second";
}

} // namespace
