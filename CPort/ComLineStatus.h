#pragma once

// The port's view of the line: modem input lines, line errors, and the record
// of one overlapped operation.

#include "ComSet.h"
#include "platform/CommLayer.h"

#include <cstdint>
#include <memory>

enum TComSignal : std::uint8_t { csCTS, csDSR, csRing, csRLSD };
using TComSignals = TComSet<TComSignal, std::uint8_t>;

enum TComError : std::uint8_t { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = TComSet<TComError, std::uint8_t>;

// Builds the signal set from the modem status word.
TComSignals SignalsFromModemStatus(std::uint32_t status);
// Builds the error set from the error word; a parity error counts only when
// the port checks parity.
TComErrors ErrorsFromErrorWord(std::uint32_t errors, bool parityCheck);

enum TAsyncKind : std::uint8_t { akWrite, akRead };

// One overlapped operation. Its event object belongs to the record and is
// closed by DoneAsync.
struct TAsyncRecord {
    Comm::TOverlapped Overlapped{};
    TAsyncKind Kind{};
    std::unique_ptr<std::uint8_t[]> Data;
    std::int32_t DataSize = 0;
};
using PAsyncRecord = TAsyncRecord*;
