// Bytes both ways, and the read timeouts with their Windows meanings.
#include "LayerHelpers.h"

using namespace Comm;
using namespace PlatformTest;

namespace {

using Transfer = PortTest;

TEST_F(Transfer, EveryByteValueReachesTheFarEndUnchanged)
{
    const std::string bytes = AllByteValues() + AllByteValues();
    ASSERT_EQ(WriteAll(port, bytes), NoError);
    EXPECT_EQ(line->Receive(bytes.size(), Patience), bytes);
}

TEST_F(Transfer, EveryByteValueFromTheFarEndIsReadUnchanged)
{
    const std::string bytes = AllByteValues() + AllByteValues();
    SetTimeouts({0, 0, static_cast<std::uint32_t>(Patience.count()), 0, 0});
    ASSERT_TRUE(line->Send(bytes));
    const TReadOutcome read = ReadWithin(port, bytes.size(), 2 * Patience);
    ASSERT_TRUE(read.completed);
    EXPECT_EQ(read.error, NoError) << Layer().ErrorText(read.error);
    EXPECT_EQ(read.bytes, bytes);
}

TEST_F(Transfer, ACharacterSentAheadReachesTheFarEnd)
{
    ASSERT_EQ(Layer().TransmitCommChar(port, '\x7e'), NoError);
    EXPECT_EQ(line->Receive(1, Patience), "\x7e");
}

TEST_F(Transfer, ATotalTimeoutEndsAReadWithWhatCame)
{
    SetTimeouts({0, 0, 200, 0, 0});
    ASSERT_TRUE(line->Send("ab"));
    const auto start = std::chrono::steady_clock::now();
    const TReadOutcome read = ReadWithin(port, 10, Patience);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(read.completed) << "the total timeout did not end the read";
    EXPECT_EQ(read.error, NoError) << "a timeout is no error";
    EXPECT_EQ(read.bytes, "ab");
    EXPECT_GE(took, 150ms) << "the read ended before its total timeout";
}

TEST_F(Transfer, AnIntervalTimeoutEndsAReadAfterTheLastByte)
{
    SetTimeouts({100, 0, 0, 0, 0});
    ASSERT_TRUE(line->Send("xyz"));
    const TReadOutcome read = ReadWithin(port, 10, Patience);
    ASSERT_TRUE(read.completed) << "the interval timeout did not end the read";
    EXPECT_EQ(read.error, NoError);
    EXPECT_EQ(read.bytes, "xyz");
}

TEST_F(Transfer, ARequestMetInFullEndsWithoutWaitingForATimeout)
{
    SetTimeouts({0, 0, 60000, 0, 0});
    ASSERT_TRUE(line->Send("12345"));
    const TReadOutcome read = ReadWithin(port, 5, Patience);
    ASSERT_TRUE(read.completed) << "a read of what had come waited for its total timeout";
    EXPECT_EQ(read.bytes, "12345");
}

TEST_F(Transfer, MaxdwordIntervalWithoutTotalsReturnsAtOnce)
{
    if (UnderWine())
        GTEST_SKIP() << WineReadsBlockWithMaxdwordInterval;
    SetTimeouts({MaxDword, 0, 0, 0, 0});
    const TReadOutcome empty = ReadWithin(port, 10, Patience);
    ASSERT_TRUE(empty.completed) << "the read waited";
    EXPECT_EQ(empty.bytes, "");
}

} // namespace
