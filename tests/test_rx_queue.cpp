// The backend's receive queue: wrapping without division, the spans of what
// was just read, and discarding NUL bytes in place, across the ring's end.
#include "platform/RxQueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <sys/uio.h>

using namespace Comm;

namespace {

// Reads bytes into the queue the way the backend does: through the free
// segments, then a commit.
void Receive(RxQueue& queue, const std::string& bytes)
{
    iovec segments[2];
    const int parts = queue.FreeSegments(segments);
    std::size_t at = 0;
    for (int i = 0; i < parts && at < bytes.size(); ++i) {
        const std::size_t n = std::min(segments[i].iov_len, bytes.size() - at);
        std::memcpy(segments[i].iov_base, bytes.data() + at, n);
        at += n;
    }
    ASSERT_EQ(at, bytes.size()) << "no room for the bytes";
    queue.Commit(bytes.size());
}

std::string PopAll(RxQueue& queue)
{
    std::string out(queue.Size(), '\0');
    EXPECT_EQ(queue.Pop(reinterpret_cast<std::uint8_t*>(out.data()), out.size()), out.size());
    return out;
}

std::string WithoutNulls(std::string text)
{
    std::erase(text, '\0');
    return text;
}

TEST(RxQueue, BytesComeOutInOrderAcrossTheEndOfTheRing)
{
    RxQueue queue(8);
    Receive(queue, "abcdef");
    std::uint8_t two[2];
    ASSERT_EQ(queue.Pop(two, 2), 2u);
    Receive(queue, "ghij");
    EXPECT_EQ(queue.Room(), 0u);
    iovec segments[2];
    EXPECT_EQ(queue.FreeSegments(segments), 0) << "a full queue offers no room";
    std::span<std::uint8_t> spans[2];
    ASSERT_EQ(queue.LastSpans(4, spans), 2) << "the last bytes wrap around the end";
    EXPECT_EQ(std::string(spans[0].begin(), spans[0].end()) + std::string(spans[1].begin(), spans[1].end()), "ghij");
    EXPECT_EQ(PopAll(queue), "cdefghij");
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(RxQueue, DiscardingNullsKeepsTheOtherBytesInOrder)
{
    const std::string cases[] = {
        std::string("\0a\0\0b\0", 6), std::string("abc"), std::string("\0\0\0", 3), std::string("x\0y", 3), "",
    };
    for (const std::string& text : cases) {
        for (std::size_t offset = 0; offset < 8; ++offset) {
            // Every position of the new bytes relative to the end of the ring.
            RxQueue queue(8);
            Receive(queue, std::string(offset, 'p'));
            std::vector<std::uint8_t> drop(offset);
            queue.Pop(drop.data(), offset);
            Receive(queue, "q");
            Receive(queue, text);
            EXPECT_EQ(queue.DiscardNulls(text.size()), WithoutNulls(text).size());
            EXPECT_EQ(PopAll(queue), "q" + WithoutNulls(text)) << "offset " << offset;
        }
        std::string flat = text;
        const std::size_t kept = DiscardNulls(reinterpret_cast<std::uint8_t*>(flat.data()), flat.size());
        EXPECT_EQ(flat.substr(0, kept), WithoutNulls(text));
    }
}

TEST(RxQueue, ChangingTheCapacityKeepsWhatIsQueued)
{
    RxQueue queue(4);
    Receive(queue, "abcd");
    queue.SetCapacity(2);
    EXPECT_EQ(queue.Capacity(), 4u) << "a capacity below the queued count grows to it";
    queue.SetCapacity(10);
    EXPECT_EQ(queue.Capacity(), 10u);
    EXPECT_FALSE(queue.Above80());
    Receive(queue, "efgh");
    EXPECT_TRUE(queue.Above80());
    EXPECT_EQ(PopAll(queue), "abcdefgh");
}

} // namespace
