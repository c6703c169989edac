// Closing and raising a break while the far end holds output back, closing
// right after a write on a free line, the lines a closed port leaves behind,
// and many opens and closes. A pseudo-terminal never holds output back and
// has no DTR or RTS, so none of these can show there.

#include "RigPort.h"

namespace {

constexpr int FarEndHoldsMs = 5000;

struct HeldCase {
    const char* name;
    TComEvents events; // none: the port runs without an event thread
};

void PrintTo(const HeldCase& c, std::ostream* out) { *out << c.name; }

class HeldOutput : public RigCase, public testing::WithParamInterface<HeldCase> {
protected:
    HeldOutput()
    {
        Configure(port, br115200, fcHardware);
        port.SetEvents(GetParam().events);
        port.Timeouts().SetWriteTotalMultiplier(0);
        port.Timeouts().SetWriteTotalConstant(300);
    }
    void TearDown() override { port.Close(); }

    // CTS down and the driver's queue full of bytes it cannot send; the far
    // end raises CTS again FarEndHoldsMs from now.
    void OpenWithOutputHeldBack()
    {
        // The driver reads CTS as it opens a port with RTS/CTS flow control:
        // the port opens held back.
        Far().SetLines("DK");
        port.Open();
        // The write timeout ends the write; what the driver took stays queued.
        const std::string bytes = Counting(8192);
        pending = port.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        ASSERT_GT(pending, 0) << "the driver took nothing to hold back";
        ASSERT_TRUE(Far().Receive(1, 200).empty()) << "output went out with CTS down";
        Far().SetLinesAfter(FarEndHoldsMs, "CDK");
    }

    std::int32_t pending = 0;
    TCustomComPort port;
};

// A pseudo-terminal's close never waits on CTS: it has none.
TEST_P(HeldOutput, CloseReturnsWithoutWaitingForTheFarEnd)
{
    OpenWithOutputHeldBack();
    const long long start = NowMs();
    port.Close();
    const long long took = NowMs() - start;
    EXPECT_LT(took, FarEndHoldsMs / 2) << "Close took " << took << " ms with " << pending
                                       << " bytes held back; the far end held them for " << FarEndHoldsMs << " ms";
    // Once CTS is up again, what was left must not go out after all.
    const std::size_t late = Far().Receive(pending, FarEndHoldsMs + 2000).size();
    EXPECT_LE(late, 16u) << late << " bytes went out after Close had begun";
}

// Nor can its break wait on output held back by CTS.
TEST_P(HeldOutput, RaisingABreakReturnsAtOnce)
{
    OpenWithOutputHeldBack();
    const long long start = NowMs();
    port.SetBreak(true);
    const long long took = NowMs() - start;
    port.SetBreak(false);
    EXPECT_LT(took, FarEndHoldsMs / 4) << "SetBreak(true) took " << took << " ms with " << pending
                                       << " bytes held back; the far end held them for " << FarEndHoldsMs << " ms";
}

INSTANTIATE_TEST_SUITE_P(EventThread, HeldOutput,
                         testing::Values(HeldCase{"WithEventThread", AllComEvents}, HeldCase{"WithoutEventThread", {}}),
                         [](const testing::TestParamInfo<HeldCase>& info) { return std::string(info.param.name); });

// The far end takes a few hundred bytes every 150 ms: Close must not take
// slow progress for a line that holds output back. A pseudo-terminal takes
// everything at once.
class SlowLine : public RigCase, public testing::WithParamInterface<HeldCase> {
protected:
    TCustomComPort port;
};

TEST_P(SlowLine, BytesWrittenJustBeforeCloseAllArrive)
{
    Configure(port, br115200, fcNone);
    port.SetEvents(GetParam().events);
    port.Open();
    constexpr int PeriodMs = 150;
    constexpr int Steps = 40;
    Far().Request("pace a " + std::to_string(PeriodMs) + " 5 " + std::to_string(Steps)); // 5 ms let go each time
    const std::string bytes = Counting(4000, 9);
    ASSERT_EQ(port.Write(bytes.data(), static_cast<std::int32_t>(bytes.size())), 4000);
    port.Close();
    const long long closedAt = NowMs();
    const std::string arrived = Far().Receive(bytes.size(), PeriodMs * Steps + 3000);
    EXPECT_EQ(arrived.size(), bytes.size()) << "Close lost bytes the port had accepted on a line that kept moving: "
                                            << arrived.size() << " arrived in " << NowMs() - closedAt << " ms";
    EXPECT_EQ(arrived, bytes.substr(0, arrived.size()));
}

INSTANTIATE_TEST_SUITE_P(EventThread, SlowLine,
                         testing::Values(HeldCase{"WithEventThread", AllComEvents},
                                         HeldCase{"WithoutEventThread", {}}),
                         [](const testing::TestParamInfo<HeldCase>& info) { return std::string(info.param.name); });

class Closing : public RigCase {
protected:
    TCustomComPort port;
};

// The UART's FIFO and the driver's queue still hold the bytes as Close begins.
TEST_F(Closing, BytesWrittenJustBeforeCloseAllArrive)
{
    Configure(port, br115200, fcNone);
    port.Open();
    const std::string bytes = Counting(4000, 3);
    ASSERT_EQ(port.Write(bytes.data(), static_cast<std::int32_t>(bytes.size())), 4000);
    port.Close();
    EXPECT_EQ(Far().Receive(bytes.size(), 10000), bytes) << "Close lost bytes the port had accepted";
}

// A pseudo-terminal has no DTR or RTS to drop.
TEST_F(Closing, DropsDtrAndRts)
{
    Configure(port, br115200, fcNone);
    port.Open();
    port.SetDTR(true);
    port.SetRTS(true);
    const FarLines open = Far().Lines();
    ASSERT_TRUE(open.dtr && open.rts) << "the far end does not see DTR and RTS raised on the open port";
    port.Close();
    const FarLines closed = Far().Lines();
    EXPECT_FALSE(closed.dtr) << "DTR stays raised after Close";
    EXPECT_FALSE(closed.rts) << "RTS stays raised after Close";
}

// Each open starts the UART and its interrupt; each close must undo it all.
TEST_F(Closing, ManyOpensAndClosesLeaveNothingBehind)
{
    Configure(port, br115200, fcNone);
    // The first rounds settle the allocator and Qt's own caches.
    for (int i = 0; i < 20; ++i) {
        port.Open();
        port.Close();
    }
    const int descriptors = OpenDescriptors();
    const long resident = ResidentKb();
    for (int i = 0; i < 200; ++i) {
        port.Open();
        port.Close();
    }
    EXPECT_EQ(OpenDescriptors(), descriptors) << "200 opens and closes left descriptors open";
    EXPECT_LT(ResidentKb() - resident, 1024) << "200 opens and closes grew the process by "
                                             << ResidentKb() - resident << " kB";
}

} // namespace
