// Breaks both ways: the UART's break bit out, and a break the far end sends
// in; a pseudo-terminal carries neither.

#include "RigPort.h"

namespace {

class Breaks : public RigCase {
protected:
    TJournal journal;
    TCustomComPort port;
};

// A pseudo-terminal ignores a break raised on it.
TEST_F(Breaks, ABreakRaisedByThePortReachesTheFarEnd)
{
    Configure(port, br115200, fcNone);
    port.Open();
    const std::uint32_t before = Far().Lines().breaks;
    port.SetBreak(true);
    const std::uint32_t during = Far().Lines().breaks;
    port.SetBreak(false);
    EXPECT_EQ(during, before + 1) << "the far end saw no break while the port raised one";
    EXPECT_EQ(Far().Lines().breaks, during) << "clearing the break raised another";
    const std::string bytes = "after the break";
    port.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(Far().Receive(bytes.size(), 5000), bytes) << "the line did not carry data after the break";
}

// The break comes in on the line whose host end speaks telnet: the emulator
// turns a telnet BREAK into a break on that UART.
TEST_F(Breaks, ABreakFromTheFarEndFiresOnBreak)
{
    Configure(port, br115200, fcNone, BreakLinePath);
    port.OnBreak = [this](TCustomComPort*) { journal.Add("Break"); };
    port.Open();
    Far().SendBreak();
    ASSERT_TRUE(journal.WaitFor(1)) << "OnBreak never came";
    EXPECT_FALSE(journal.WaitFor(2, 300)) << "one break was reported more than once";
}

} // namespace
