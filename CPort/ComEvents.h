#pragma once

// Line events, how they reach the application, and the links that components
// register with a port to follow its activity.

#include "ComSet.h"

#include <cstdint>
#include <functional>

class TCustomComPort;

enum TComEvent : std::uint8_t {
    evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
using TComEvents = TComSet<TComEvent, std::uint16_t>;

inline constexpr TComEvents AllComEvents = TComEvents::FromBits(0x03FF);

std::uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(std::uint32_t mask);
// The platform mask value of one event.
std::uint32_t EventMask(TComEvent event);

enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

// The port message of the hidden receiver: one event, its mask value in wParam.
inline constexpr unsigned WM_COMPORTEVENT = 0x0401;

enum TLinkSignal : std::uint8_t {
    lsConnection, lsCTS, lsDSR, lsRLSD, lsRing, lsRxActivity, lsTxActivity, lsTxEmpty, lsRxFlag
};

// What a registered component is told of the port's activity. Every slot is
// optional and called with the port as sender.
struct TComPortLink {
    using TSignalSlot = std::function<void(TCustomComPort* sender, bool onOff)>;
    using TBufferSlot = std::function<void(TCustomComPort* sender, const void* buffer, std::int32_t count)>;
    using TEventSlot = std::function<void(TCustomComPort* sender)>;

    TSignalSlot OnConnection;
    TBufferSlot OnRxBuf;
    TBufferSlot OnTxBuf;
    TEventSlot OnTxEmpty;
    TEventSlot OnRxFlag;
    TSignalSlot OnCTSChange;
    TSignalSlot OnDSRChange;
    TSignalSlot OnRLSDChange;
    TEventSlot OnRing;
    TSignalSlot OnTxActivity;
    TSignalSlot OnRxActivity;
};
