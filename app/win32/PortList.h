#pragma once

#include "PortChoice.h"

#include <optional>
#include <vector>

// The machine's serial ports in the list's order: the user's locale's
// case-insensitive text order, as the Linux window sorts them, equal names
// in the system's order; each with the description and maker of what is
// behind it. Nothing when the ports cannot be read.
std::optional<std::vector<TPortEntry>> ReadPortEntries();
