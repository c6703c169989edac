// OnTxEmpty against the far end holding the wire. The driver moves up to 16
// bytes into the UART's FIFO at once, so its queue is empty long before the
// transmitter is; a pseudo-terminal has no transmitter to show the gap.

#include "RigPort.h"

namespace {

constexpr int HeldMs = 800;

struct TxEmptyCase {
    const char* name;
    std::size_t bytes;
};

void PrintTo(const TxEmptyCase& c, std::ostream* out) { *out << c.name; }

class TxEmpty : public RigCase, public testing::WithParamInterface<TxEmptyCase> {
protected:
    TxEmpty()
    {
        Configure(port, br115200, fcNone);
        port.OnTxEmpty = [this](TCustomComPort*) {
            if (emptyAt < 0)
                emptyAt = NowMs();
            journal.Add("TxEmpty");
        };
    }

    long long emptyAt = -1;
    TJournal journal;
    TCustomComPort port;
};

// A pseudo-terminal's queue empties as its master reads: it has no transmitter.
TEST_P(TxEmpty, ComesOnlyOnceTheFarEndTookTheLastByte)
{
    const std::size_t count = GetParam().bytes;
    port.Open();
    const std::string bytes = Counting(count);
    Far().HoldFor(HeldMs);
    const long long heldFrom = NowMs();
    ASSERT_EQ(port.Write(bytes.data(), static_cast<std::int32_t>(count)), static_cast<std::int32_t>(count));
    ASSERT_TRUE(journal.WaitFor(1, HeldMs + 10000)) << "OnTxEmpty never came";
    const long long after = emptyAt - heldFrom;
    // Half the hold is margin enough: an early report comes within a few
    // milliseconds of the write.
    EXPECT_GE(after, HeldMs / 2) << "OnTxEmpty came " << after << " ms after a write of " << count
                                 << " bytes, while the far end held the line for " << HeldMs << " ms";
    EXPECT_EQ(Far().Receive(count, 10000), bytes);
}

INSTANTIATE_TEST_SUITE_P(WriteSizes, TxEmpty,
                         testing::Values(TxEmptyCase{"TenBytes", 10}, TxEmptyCase{"AFullFifo", 16},
                                         TxEmptyCase{"MoreThanTheFifo", 120}, TxEmptyCase{"AKilobyte", 1024}),
                         [](const testing::TestParamInfo<TxEmptyCase>& info) { return std::string(info.param.name); });

} // namespace
