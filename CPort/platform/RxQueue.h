#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace Comm {

// The backend's receive queue: a ring of fixed capacity that the device is
// read into directly, so each received byte is copied once on the way in.
// Positions wrap by comparison, never by division: the queue sits on the
// path of every received byte.
class RxQueue {
public:
    explicit RxQueue(std::size_t capacity = 4096) : ring_(capacity) {}

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return ring_.size(); }
    std::size_t Room() const { return ring_.size() - size_; }
    // At least four fifths full: the line's 80 %-full mark.
    bool Above80() const { return size_ * 5 >= ring_.size() * 4; }

    // Keeps the bytes queued; a capacity below the queued count grows to it.
    void SetCapacity(std::size_t capacity);
    void Clear() { head_ = size_ = 0; }

    // The free space as at most two segments; returns how many. A segment is
    // whatever {pointer, length} record the caller reads into (iovec for
    // readv), so that this header needs no system header of its own.
    template <class TSegment>
    int FreeSegments(TSegment segments[2])
    {
        std::span<std::uint8_t> spans[2];
        const int parts = FreeSpans(spans);
        for (int i = 0; i < parts; ++i)
            segments[i] = TSegment{spans[i].data(), spans[i].size()};
        return parts;
    }
    int FreeSpans(std::span<std::uint8_t> spans[2]);
    void Commit(std::size_t count) { size_ += count; }
    // The last count committed bytes, as at most two spans; returns how many.
    int LastSpans(std::size_t count, std::span<std::uint8_t> spans[2]);
    // Removes the NUL bytes among the last count committed ones, keeping the
    // order of the others; returns how many stayed.
    std::size_t DiscardNulls(std::size_t count);
    std::size_t Pop(std::uint8_t* out, std::size_t count);

private:
    std::size_t Wrap(std::size_t position) const { return position >= ring_.size() ? position - ring_.size() : position; }

    std::vector<std::uint8_t> ring_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

// Removes the NUL bytes of a span in place, keeping the order of the others;
// returns how many stayed.
std::size_t DiscardNulls(std::uint8_t* bytes, std::size_t count);

} // namespace Comm
