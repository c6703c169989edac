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

int RxQueue::FreeSegments(iovec segments[2])
{
    const std::size_t capacity = ring_.size();
    const std::size_t room = Room();
    if (room == 0)
        return 0;
    const std::size_t tail = (head_ + size_) % capacity;
    const std::size_t first = std::min(room, capacity - tail);
    segments[0] = iovec{ring_.data() + tail, first};
    if (first == room)
        return 1;
    segments[1] = iovec{ring_.data(), room - first};
    return 2;
}

std::size_t RxQueue::Pop(std::uint8_t* out, std::size_t count)
{
    count = std::min(count, size_);
    const std::size_t capacity = ring_.size();
    const std::size_t first = std::min(count, capacity - head_);
    std::memcpy(out, ring_.data() + head_, first);
    std::memcpy(out + first, ring_.data(), count - first);
    head_ = (head_ + count) % capacity;
    size_ -= count;
    return count;
}

} // namespace Comm
