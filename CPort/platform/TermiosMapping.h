#pragma once

// Translation of the device control block onto the Linux terminal settings,
// as a pure function so that it is checked without any device.

#include "CommLayer.h"

#include <cstdint>

namespace Comm {

// The kernel's termios2 record (the form that carries arbitrary speeds).
struct TTermios2 {
    std::uint32_t c_iflag;
    std::uint32_t c_oflag;
    std::uint32_t c_cflag;
    std::uint32_t c_lflag;
    std::uint8_t c_line;
    std::uint8_t c_cc[19];
    std::uint32_t c_ispeed;
    std::uint32_t c_ospeed;
};

// Modem output lines to drive after the settings are applied.
struct TLineControl {
    bool SetDTR = false, ClearDTR = false;
    bool SetRTS = false, ClearRTS = false;
};

// Fills tio from the record: raw binary mode, speed, framing, parity, flow
// control and the Xon/Xoff characters. Returns EINVAL for a record the UART
// cannot carry (unknown byte size, parity or stop bits, a zero rate, or
// 1.5 stop bits with more than 5 data bits, 2 stop bits with 5).
TOsError DcbToTermios(const TDCB& dcb, TTermios2& tio, TLineControl& lines);

} // namespace Comm
