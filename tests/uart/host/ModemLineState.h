#pragma once

// The modem lines of one emulated line's host end, shared between the far end
// and the library preloaded into the emulator. A host pseudo-terminal has no
// modem lines of its own, so the far end keeps them here: it writes what its
// side presents (CTS, DSR, DCD, RI) and reads what the guest's UART drives
// (DTR, RTS) and how many breaks it raised.

#include <atomic>
#include <cstdint>

struct ModemLineState {
    static constexpr std::uint32_t Magic = 0x4d4c5331; // "MLS1"
    std::uint32_t magic;
    // TIOCM_* bits the far end presents to the guest.
    std::atomic<std::uint32_t> farLines;
    // TIOCM_* bits the guest's UART last drove (DTR, RTS).
    std::atomic<std::uint32_t> nearLines;
    // Breaks the guest's UART raised.
    std::atomic<std::uint32_t> breaks;
};

static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "the state is shared between processes");

// The environment variable naming the lines the library answers for:
// "<host tty path>=<state file>" pairs separated by ';'.
inline constexpr const char* ModemLinesVariable = "UART_RIG_MODEM_LINES";
