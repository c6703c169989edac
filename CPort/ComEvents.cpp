#include "ComEvents.h"

#include "platform/CommLayer.h"

#include <array>

namespace {
// Indexed by TComEvent ordinal.
constexpr std::array<std::uint32_t, 10> EventMasks = {
    Comm::EvRxChar, Comm::EvTxEmpty, Comm::EvRxFlag, Comm::EvRing, Comm::EvBreak,
    Comm::EvCts, Comm::EvDsr, Comm::EvErr, Comm::EvRlsd, Comm::EvRx80Full};
} // namespace

std::uint32_t EventMask(TComEvent event)
{
    return EventMasks.at(event);
}

std::uint32_t EventsToMask(TComEvents events)
{
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < EventMasks.size(); ++i) {
        if (events.Contains(static_cast<TComEvent>(i)))
            mask |= EventMasks[i];
    }
    return mask;
}

TComEvents MaskToEvents(std::uint32_t mask)
{
    TComEvents events;
    for (std::size_t i = 0; i < EventMasks.size(); ++i) {
        if (mask & EventMasks[i])
            events.Include(static_cast<TComEvent>(i));
    }
    return events;
}
