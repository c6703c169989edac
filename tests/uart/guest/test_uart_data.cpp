// Data both ways through the 8250 driver, at a low and a high speed, with
// every byte value: the driver's divisor, FIFO and interrupt paths, which a
// pseudo-terminal has none of.

#include "RigPort.h"

namespace {

class DataBothWays : public RigCase, public testing::WithParamInterface<TBaudRate> {
protected:
    TCustomComPort port;
};

// A pseudo-terminal has no divisor and no FIFO: speed is only a number there.
TEST_P(DataBothWays, EveryByteValueGoesOut)
{
    Configure(port, GetParam(), fcNone);
    port.Open();
    const std::string bytes = Counting(1024);
    ASSERT_EQ(port.Write(bytes.data(), static_cast<std::int32_t>(bytes.size())), 1024);
    EXPECT_EQ(Far().Receive(bytes.size(), 10000), bytes) << "the far end did not get the bytes as written";
}

// Received bytes come through the UART's receive FIFO and its timeout interrupt.
TEST_P(DataBothWays, EveryByteValueComesIn)
{
    Configure(port, GetParam(), fcNone);
    Received received(port);
    port.Open();
    Far().Send(1024, 7);
    ASSERT_TRUE(received.WaitFor(1024, 10000)) << "only " << received.Bytes().size() << " of 1024 bytes arrived";
    EXPECT_EQ(received.Bytes(), Counting(1024, 7));
}

INSTANTIATE_TEST_SUITE_P(Speeds, DataBothWays, testing::Values(br1200, br115200),
                         [](const testing::TestParamInfo<TBaudRate>& info) {
                             return info.param == br1200 ? std::string("At1200") : std::string("At115200");
                         });

} // namespace
