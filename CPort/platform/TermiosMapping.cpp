#include "TermiosMapping.h"

#include <cerrno>

#include <termios.h>

// What termios cannot express, and what the backend does instead:
//
// | Device control block            | Linux                                                        |
// |---------------------------------|--------------------------------------------------------------|
// | BaudRate not a standard rate    | BOTHER with the rate in c_ispeed and c_ospeed                |
// | fBinary, EofChar                | always raw binary mode; EofChar has no effect                |
// | fParity                         | INPCK; bytes with parity errors are read as 0                |
// | Parity mark / space             | PARENB with CMSPAR (PARODD selects mark)                     |
// | StopBits 1.5                    | CSTOPB, only with 5 data bits, as the UART does              |
// | fOutxCtsFlow, RTS handshake     | CRTSCTS; termios couples both directions, either one sets it |
// | fDtrControl enable / disable    | DTR raised / dropped with TIOCMBIS / TIOCMBIC                |
// | fRtsControl enable / disable    | RTS raised / dropped (without CRTSCTS)                       |
// | fRtsControl toggle              | accepted without effect                                      |
// | fOutxDsrFlow, DTR handshake,    | accepted without effect: no DSR flow control in termios      |
// |   fDsrSensitivity               |                                                              |
// | fTXContinueOnXoff, XonLim,      | accepted without effect: the kernel keeps its own thresholds |
// |   XoffLim                       |                                                              |
// | fErrorChar, ErrorChar           | accepted without effect: error bytes are read as 0           |
// | fNull                           | emulated: the backend drops received 0 bytes                 |
// | EvtChar                         | emulated: the backend raises EvRxFlag when it arrives       |
// | fAbortOnError                   | accepted without effect                                      |

namespace Comm {

namespace {

constexpr std::uint32_t OtherRate = 0x00001000; // BOTHER of the kernel's termbits

struct StandardRate {
    std::uint32_t rate;
    std::uint32_t code;
};

constexpr StandardRate StandardRates[] = {
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
    {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000}};

} // namespace

TOsError DcbToTermios(const TDCB& dcb, TTermios2& tio, TLineControl& lines)
{
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SpaceParity ||
        dcb.StopBits > TwoStopBits)
        return EINVAL;
    if (dcb.StopBits == One5StopBits && dcb.ByteSize != 5)
        return EINVAL;
    if (dcb.StopBits == TwoStopBits && dcb.ByteSize == 5)
        return EINVAL;

    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    // HUPCL: the driver drops DTR and RTS when the device is closed, so the
    // far end no longer sees anyone present, as with a device closed on
    // Windows.
    tio.c_cflag = CREAD | CLOCAL | HUPCL;

    tio.c_cflag &= ~static_cast<std::uint32_t>(CBAUD);
    std::uint32_t code = OtherRate;
    for (const StandardRate& standard : StandardRates) {
        if (standard.rate == dcb.BaudRate)
            code = standard.code;
    }
    tio.c_cflag |= code;
    tio.c_ispeed = dcb.BaudRate;
    tio.c_ospeed = dcb.BaudRate;

    constexpr std::uint32_t SizeFlags[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= SizeFlags[dcb.ByteSize - 5];

    switch (dcb.Parity) {
    case OddParity: tio.c_cflag |= PARENB | PARODD; break;
    case EvenParity: tio.c_cflag |= PARENB; break;
    case MarkParity: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SpaceParity: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (dcb.Flags & dcb_Parity)
        tio.c_iflag |= INPCK;
    if (dcb.StopBits != OneStopBit)
        tio.c_cflag |= CSTOPB;

    const std::uint32_t rts = dcb.Flags & dcb_RtsControlMask;
    const bool hardwareFlow = (dcb.Flags & dcb_OutxCtsFlow) || rts == RtsControlHandshake;
    if (hardwareFlow)
        tio.c_cflag |= CRTSCTS;
    if (dcb.Flags & dcb_OutX)
        tio.c_iflag |= IXON;
    if (dcb.Flags & dcb_InX)
        tio.c_iflag |= IXOFF;

    for (std::uint8_t& c : tio.c_cc)
        c = 0;
    tio.c_cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);
    // Reads never block (the descriptor is non-blocking); VMIN 1 makes an
    // empty line report EAGAIN, so that end of file can only mean a hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;

    lines = TLineControl{};
    const std::uint32_t dtr = dcb.Flags & dcb_DtrControlMask;
    lines.SetDTR = dtr == DtrControlEnable;
    lines.ClearDTR = dtr == 0;
    if (!hardwareFlow) {
        lines.SetRTS = rts == RtsControlEnable;
        lines.ClearRTS = rts == 0;
    }
    return NoError;
}

} // namespace Comm
