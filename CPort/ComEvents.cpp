#include "ComEvents.h"

#include "platform/CommLayer.h"

#include <array>

namespace {
// Indexed by TComEvent ordinal.
constexpr std::array<std::uint32_t, 10> EventMasks = {
    Comm::EV_RXCHAR, Comm::EV_TXEMPTY, Comm::EV_RXFLAG, Comm::EV_RING, Comm::EV_BREAK,
    Comm::EV_CTS, Comm::EV_DSR, Comm::EV_ERR, Comm::EV_RLSD, Comm::EV_RX80FULL};
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
