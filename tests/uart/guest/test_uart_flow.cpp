// Flow control holding output back: the far end drops CTS or sends Xoff, and
// the driver stops the UART. A pseudo-terminal has no CTS, and its Xoff stops
// only its own queue.

#include "RigPort.h"

namespace {

constexpr std::size_t Big = 16384; // more than the driver's 4 KiB queue
constexpr int ReleaseAfterMs = 1500;

struct FlowCase {
    const char* name;
    TFlowControl flow;
    const char* holdBack; // the far end's requests
    const char* letGo;
    // CTS is read by the driver as it opens a port with RTS/CTS flow
    // control, so that port opens held back; an Xoff is data, read only by
    // the open port.
    bool holdBeforeOpen;
};

void PrintTo(const FlowCase& c, std::ostream* out) { *out << c.name; }

const FlowCase FlowCases[] = {
    {"RtsCts", fcHardware, "lines a DK", "lines a CDK", true},
    // The byte after the Xoff tells the port has read the Xoff too.
    {"XonXoff", fcSoftware, "sendhex a 1378", "sendhex a 11", false},
};

class HeldBack : public RigCase, public testing::WithParamInterface<FlowCase> {
protected:
    HeldBack() : received(port) { Configure(port, br115200, GetParam().flow); }
    // Closed while the handlers' journals are still there.
    void TearDown() override { port.Close(); }

    // Opens the port held back: a byte written then stays in the driver.
    void OpenHeldBack()
    {
        if (GetParam().holdBeforeOpen) {
            Far().Request(GetParam().holdBack);
            port.Open();
        } else {
            port.Open();
            Far().Request(GetParam().holdBack);
            ASSERT_TRUE(received.WaitFor(1)) << "the byte after the Xoff never arrived";
        }
        const char probe = 'p';
        ASSERT_EQ(port.Write(&probe, 1), 1);
        ASSERT_TRUE(Far().Receive(1, 300).empty()) << "output went out although the far end held it back";
    }

    TCustomComPort port;
    Received received;
};

// A pseudo-terminal's output is never held back by the far end's lines.
TEST_P(HeldBack, AWriteTimeoutEndsTheWriteWithWhatTheDriverTook)
{
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(500);
    OpenHeldBack();
    const std::string bytes = Counting(Big);
    const long long start = NowMs();
    const std::int32_t taken = port.Write(bytes.data(), static_cast<std::int32_t>(Big));
    const long long took = NowMs() - start;
    EXPECT_LT(taken, static_cast<std::int32_t>(Big)) << "the whole write went through a held-back line";
    EXPECT_LT(took, 5000) << "the write timeout of 500 ms ended the write only after " << took << " ms";
    EXPECT_TRUE(Far().Receive(Big, 200).empty()) << "output left while held back";
    Far().Request(GetParam().letGo);
    const std::size_t expected = 1 + static_cast<std::size_t>(taken); // the probe byte and the write's
    EXPECT_EQ(Far().Receive(expected, 10000).size(), expected)
        << "the bytes the write reported taken did not all go out once released";
    EXPECT_TRUE(Far().Receive(Big, 100).empty()) << "more went out than the write reported taken";
}

// Nor does it make a write wait for CTS or an Xon.
TEST_P(HeldBack, WithoutTimeoutsTheWriteWaitsForTheFarEnd)
{
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(0);
    OpenHeldBack();
    Far().Request("after " + std::to_string(ReleaseAfterMs) + " " + GetParam().letGo);
    const std::string bytes = Counting(Big);
    const long long start = NowMs();
    const std::int32_t taken = port.Write(bytes.data(), static_cast<std::int32_t>(Big));
    const long long took = NowMs() - start;
    EXPECT_EQ(taken, static_cast<std::int32_t>(Big));
    EXPECT_GE(took, ReleaseAfterMs / 2) << "the write returned " << took << " ms after it began, while the far end "
                                        << "held the line for " << ReleaseAfterMs << " ms";
    EXPECT_EQ(Far().Receive(Big + 1, 10000).size(), Big + 1) << "not every byte arrived once released";
}

INSTANTIATE_TEST_SUITE_P(EachKind, HeldBack, testing::ValuesIn(FlowCases),
                         [](const testing::TestParamInfo<FlowCase>& info) { return std::string(info.param.name); });

} // namespace
