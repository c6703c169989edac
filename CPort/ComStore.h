#pragma once

#include "ComSet.h"

#include <cstdint>

// The groups of settings that storing and loading take part in.
enum TStoreGroup : std::uint8_t { sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers };
using TStoreGroups = TComSet<TStoreGroup, std::uint8_t>;
