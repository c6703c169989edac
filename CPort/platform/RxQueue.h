#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/uio.h>
#include <vector>

namespace Comm {

// The backend's receive queue: a ring of fixed capacity that the device is
// read into directly, so each received byte is copied once on the way in.
class RxQueue {
public:
    explicit RxQueue(std::size_t capacity = 4096) : ring_(capacity) {}

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return ring_.size(); }
    std::size_t Room() const { return ring_.size() - size_; }

    // Keeps the bytes queued; a capacity below the queued count grows to it.
    void SetCapacity(std::size_t capacity);
    void Clear() { head_ = size_ = 0; }

    // The free space as at most two segments, for readv.
    int FreeSegments(iovec segments[2]);
    void Commit(std::size_t count) { size_ += count; }
    std::uint8_t& At(std::size_t index) { return ring_[(head_ + index) % ring_.size()]; }
    // Drops the last count bytes (used when filtering what was just read).
    void Unpush(std::size_t count) { size_ -= count; }
    std::size_t Pop(std::uint8_t* out, std::size_t count);

private:
    std::vector<std::uint8_t> ring_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

} // namespace Comm
