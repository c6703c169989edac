#pragma once

// The backend's handles: each names a slot of a table and a serial number.
// A look-up is an index and one comparison, which matters because every
// layer call starts with one; and a handle, once closed, never names another
// object, because serial numbers never repeat.

#include "CommLayer.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace Comm {

template <typename T>
class THandleTable {
public:
    // InvalidHandle when the table is full.
    THandle Add(std::shared_ptr<T> object, std::uint64_t serial)
    {
        std::lock_guard lock(mutex_);
        std::size_t slot = slots_.size();
        if (!free_.empty()) {
            slot = free_.back();
            free_.pop_back();
        } else if (slot < MaxSlots) {
            slots_.emplace_back();
        } else {
            return InvalidHandle;
        }
        const auto handle = static_cast<THandle>((serial << SlotBits) | slot);
        slots_[slot] = Slot{handle, std::move(object)};
        return handle;
    }

    std::shared_ptr<T> Find(THandle handle) const
    {
        std::lock_guard lock(mutex_);
        const Slot* slot = SlotOf(handle);
        return slot ? slot->object : nullptr;
    }

    // Takes the object out of the table; null when the handle names none.
    std::shared_ptr<T> Remove(THandle handle)
    {
        std::lock_guard lock(mutex_);
        Slot* slot = const_cast<Slot*>(SlotOf(handle));
        if (!slot)
            return nullptr;
        std::shared_ptr<T> object = std::move(slot->object);
        slot->handle = InvalidHandle;
        free_.push_back(static_cast<std::uint32_t>(slot - slots_.data()));
        return object;
    }

    // Every object in the table, for tearing the backend down.
    std::vector<std::shared_ptr<T>> All() const
    {
        std::lock_guard lock(mutex_);
        std::vector<std::shared_ptr<T>> objects;
        for (const Slot& slot : slots_) {
            if (slot.object)
                objects.push_back(slot.object);
        }
        return objects;
    }

private:
    static constexpr int SlotBits = 20;
    static constexpr std::size_t MaxSlots = std::size_t{1} << SlotBits;

    struct Slot {
        THandle handle = InvalidHandle;
        std::shared_ptr<T> object;
    };

    const Slot* SlotOf(THandle handle) const
    {
        if (handle <= 0)
            return nullptr;
        const auto index = static_cast<std::size_t>(handle) & (MaxSlots - 1);
        if (index >= slots_.size() || slots_[index].handle != handle)
            return nullptr;
        return &slots_[index];
    }

    mutable std::mutex mutex_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> free_;
};

} // namespace Comm
