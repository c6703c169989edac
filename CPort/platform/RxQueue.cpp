#include "RxQueue.h"

#include <algorithm>
#include <cstring>

namespace Comm {

void RxQueue::SetCapacity(std::size_t capacity)
{
    capacity = std::max({capacity, size_, std::size_t{1}});
    std::vector<std::uint8_t> ring(capacity);
    const std::size_t kept = size_;
    Pop(ring.data(), kept);
    ring_.swap(ring);
    head_ = 0;
    size_ = kept;
}

int RxQueue::FreeSpans(std::span<std::uint8_t> spans[2])
{
    const std::size_t room = Room();
    if (room == 0)
        return 0;
    const std::size_t tail = Wrap(head_ + size_);
    const std::size_t first = std::min(room, ring_.size() - tail);
    spans[0] = std::span(ring_.data() + tail, first);
    if (first == room)
        return 1;
    spans[1] = std::span(ring_.data(), room - first);
    return 2;
}

int RxQueue::LastSpans(std::size_t count, std::span<std::uint8_t> spans[2])
{
    const std::size_t start = Wrap(head_ + size_ - count);
    const std::size_t first = std::min(count, ring_.size() - start);
    spans[0] = std::span(ring_.data() + start, first);
    if (first == count)
        return 1;
    spans[1] = std::span(ring_.data(), count - first);
    return 2;
}

std::size_t RxQueue::DiscardNulls(std::size_t count)
{
    std::span<std::uint8_t> spans[2];
    const int parts = LastSpans(count, spans);
    if (parts == 1) {
        const std::size_t kept = Comm::DiscardNulls(spans[0].data(), count);
        size_ -= count - kept;
        return kept;
    }
    // Across the end of the ring: compact byte by byte, wrapping by comparison.
    std::size_t from = Wrap(head_ + size_ - count);
    std::size_t to = from;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = ring_[from];
        from = Wrap(from + 1);
        if (byte == 0)
            continue;
        ring_[to] = byte;
        to = Wrap(to + 1);
        ++kept;
    }
    size_ -= count - kept;
    return kept;
}

std::size_t RxQueue::Pop(std::uint8_t* out, std::size_t count)
{
    count = std::min(count, size_);
    if (count == 0)
        return 0;
    const std::size_t first = std::min(count, ring_.size() - head_);
    std::memcpy(out, ring_.data() + head_, first);
    std::memcpy(out + first, ring_.data(), count - first);
    head_ = Wrap(head_ + count);
    size_ -= count;
    if (size_ == 0)
        head_ = 0;
    return count;
}

std::size_t DiscardNulls(std::uint8_t* bytes, std::size_t count)
{
    if (count == 0)
        return 0;
    auto* null = static_cast<std::uint8_t*>(std::memchr(bytes, 0, count));
    if (!null)
        return count;
    std::uint8_t* to = null;
    const std::uint8_t* from = null + 1;
    const std::uint8_t* const end = bytes + count;
    while (from < end) {
        const auto* next = static_cast<const std::uint8_t*>(std::memchr(from, 0, static_cast<std::size_t>(end - from)));
        const std::uint8_t* stop = next ? next : end;
        std::memmove(to, from, static_cast<std::size_t>(stop - from));
        to += stop - from;
        from = stop + 1;
    }
    return static_cast<std::size_t>(to - bytes);
}

} // namespace Comm
