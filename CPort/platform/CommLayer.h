#pragma once

// The narrow communications layer under the serial port component. Its
// operations mirror the operating-system calls the component needs (open,
// configure, overlapped reads and event waits, line status, event objects), so
// the component above it is written once and runs unchanged on the Linux
// backend, on the in-memory fake device of the tests, or on a Win32 backend.
//
// Every operation returns an operating-system error code: 0 for success,
// IoPending for an overlapped operation that goes on in the background, and
// otherwise the system's own code (errno on Linux). No thread-local "last
// error" is kept.

#include <cerrno>
#include <cstdint>
#include <span>
#include <string>

namespace Comm {

using THandle = std::intptr_t;
using TOsError = std::uint32_t;

inline constexpr THandle InvalidHandle = -1;

inline constexpr TOsError NoError = 0;
// An overlapped operation was started and will complete by signalling its event.
inline constexpr TOsError IoPending = 997;
// GetOverlappedResult without waiting on an operation that has not completed.
inline constexpr TOsError IoIncomplete = 996;

// The platform's own codes for the failures the component and the layer
// report themselves: an operation ended by a purge or a close, and an argument
// refused before any call.
#ifdef _WIN32
inline constexpr TOsError OperationAborted = 995;  // ERROR_OPERATION_ABORTED
inline constexpr TOsError InvalidParameter = 87;   // ERROR_INVALID_PARAMETER
#else
inline constexpr TOsError OperationAborted = ECANCELED;
inline constexpr TOsError InvalidParameter = EINVAL;
#endif

// Device control block: same fields, order and bit values as the Windows record.
struct TDCB {
    std::uint32_t DCBlength;
    std::uint32_t BaudRate;
    std::uint32_t Flags;
    std::uint16_t wReserved;
    std::uint16_t XonLim;
    std::uint16_t XoffLim;
    std::uint8_t ByteSize;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    std::uint16_t wReserved1;

    friend bool operator==(const TDCB&, const TDCB&) = default;
};
static_assert(sizeof(TDCB) == 28);

// Flag word bits of the device control block.
inline constexpr std::uint32_t dcb_Binary = 0x0001;
inline constexpr std::uint32_t dcb_Parity = 0x0002;
inline constexpr std::uint32_t dcb_OutxCtsFlow = 0x0004;
inline constexpr std::uint32_t dcb_OutxDsrFlow = 0x0008;
inline constexpr std::uint32_t dcb_DtrControlMask = 0x0030;
inline constexpr std::uint32_t dcb_DsrSensivity = 0x0040;
inline constexpr std::uint32_t dcb_TXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t dcb_OutX = 0x0100;
inline constexpr std::uint32_t dcb_InX = 0x0200;
inline constexpr std::uint32_t dcb_ErrorChar = 0x0400;
inline constexpr std::uint32_t dcb_NullDiscard = 0x0800;
inline constexpr std::uint32_t dcb_RtsControlMask = 0x3000;
inline constexpr std::uint32_t dcb_AbortOnError = 0x4000;

inline constexpr std::uint32_t DtrControlEnable = 0x0010;
inline constexpr std::uint32_t DtrControlHandshake = 0x0020;
inline constexpr std::uint32_t RtsControlEnable = 0x1000;
inline constexpr std::uint32_t RtsControlHandshake = 0x2000;
inline constexpr std::uint32_t RtsControlToggle = 0x3000;

inline constexpr std::uint8_t NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4;
inline constexpr std::uint8_t OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2;

inline constexpr std::uint32_t MaxDword = 0xFFFFFFFF;

struct TCommTimeouts {
    std::uint32_t ReadIntervalTimeout;
    std::uint32_t ReadTotalTimeoutMultiplier;
    std::uint32_t ReadTotalTimeoutConstant;
    std::uint32_t WriteTotalTimeoutMultiplier;
    std::uint32_t WriteTotalTimeoutConstant;

    friend bool operator==(const TCommTimeouts&, const TCommTimeouts&) = default;
};

struct TComStat {
    std::uint32_t Flags;
    std::uint32_t cbInQue;
    std::uint32_t cbOutQue;
};

// State of one overlapped operation. hEvent is the caller's event object,
// signalled when the operation completes; the other members belong to the layer.
struct TOverlapped {
    std::uintptr_t Internal;
    std::uintptr_t InternalHigh;
    std::uint32_t Offset;
    std::uint32_t OffsetHigh;
    THandle hEvent;
};

// Purge flags.
inline constexpr std::uint32_t PurgeTxAbort = 0x0001;
inline constexpr std::uint32_t PurgeRxAbort = 0x0002;
inline constexpr std::uint32_t PurgeTxClear = 0x0004;
inline constexpr std::uint32_t PurgeRxClear = 0x0008;

// Functions of EscapeCommFunction.
inline constexpr std::uint32_t EscSetXoff = 1;
inline constexpr std::uint32_t EscSetXon = 2;
inline constexpr std::uint32_t EscSetRts = 3;
inline constexpr std::uint32_t EscClrRts = 4;
inline constexpr std::uint32_t EscSetDtr = 5;
inline constexpr std::uint32_t EscClrDtr = 6;
inline constexpr std::uint32_t EscSetBreak = 8;
inline constexpr std::uint32_t EscClrBreak = 9;

// Line error bits reported by ClearCommError.
inline constexpr std::uint32_t CeRxOver = 0x0001;
inline constexpr std::uint32_t CeOverrun = 0x0002;
inline constexpr std::uint32_t CeRxParity = 0x0004;
inline constexpr std::uint32_t CeFrame = 0x0008;
inline constexpr std::uint32_t CeBreak = 0x0010;
inline constexpr std::uint32_t CeTxFull = 0x0100;
inline constexpr std::uint32_t CeIoe = 0x0400;
inline constexpr std::uint32_t CeMode = 0x8000;

// Modem input lines reported by GetCommModemStatus.
inline constexpr std::uint32_t MsCtsOn = 0x0010;
inline constexpr std::uint32_t MsDsrOn = 0x0020;
inline constexpr std::uint32_t MsRingOn = 0x0040;
inline constexpr std::uint32_t MsRlsdOn = 0x0080;

// Event mask bits for SetCommMask and WaitCommEvent.
inline constexpr std::uint32_t EvRxChar = 0x0001;
inline constexpr std::uint32_t EvRxFlag = 0x0002;
inline constexpr std::uint32_t EvTxEmpty = 0x0004;
inline constexpr std::uint32_t EvCts = 0x0008;
inline constexpr std::uint32_t EvDsr = 0x0010;
inline constexpr std::uint32_t EvRlsd = 0x0020;
inline constexpr std::uint32_t EvBreak = 0x0040;
inline constexpr std::uint32_t EvErr = 0x0080;
inline constexpr std::uint32_t EvRing = 0x0100;
inline constexpr std::uint32_t EvRx80Full = 0x0400;

// Results of WaitForMultipleObjects besides the index of the signalled handle.
inline constexpr std::uint32_t WaitObject0 = 0;
inline constexpr std::uint32_t WaitTimeout = 0x102;
inline constexpr std::uint32_t WaitFailed = 0xFFFFFFFF;
inline constexpr std::uint32_t Infinite = 0xFFFFFFFF;

struct TWaitResult {
    std::uint32_t Result; // WaitObject0 + index, WaitTimeout or WaitFailed
    TOsError Error;       // set with WaitFailed
};

class TCommLayer {
public:
    virtual ~TCommLayer() = default;

    // Devices. The path is the port name as the component builds it.
    virtual TOsError CreateDevice(const std::string& path, THandle& handle) = 0;
    // Closes a device or an event object.
    virtual TOsError CloseHandle(THandle handle) = 0;
    virtual TOsError SetCommState(THandle device, const TDCB& dcb) = 0;
    virtual TOsError SetCommTimeouts(THandle device, const TCommTimeouts& timeouts) = 0;
    virtual TOsError SetupComm(THandle device, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual TOsError PurgeComm(THandle device, std::uint32_t flags) = 0;

    // Overlapped read: NoError with the count when it completed at once,
    // IoPending when it completes later by signalling overlapped.hEvent.
    virtual TOsError ReadFile(THandle device, void* buffer, std::uint32_t count, std::uint32_t& read,
                              TOverlapped& overlapped) = 0;
    virtual TOsError GetOverlappedResult(THandle device, TOverlapped& overlapped, std::uint32_t& transferred,
                                         bool wait) = 0;
    // Overlapped write of the caller's bytes, which stay untouched and alive
    // until the write completes: NoError with the count when the driver took
    // them all at once, IoPending otherwise. A write completes when the driver
    // has taken every byte, or with fewer when the write timeouts pass.
    virtual TOsError WriteFile(THandle device, const void* buffer, std::uint32_t count, std::uint32_t& written,
                               TOverlapped& overlapped) = 0;
    // Drives an output line or the transmitter (EscSetDtr, EscClrBreak, ...). A
    // device without modem lines accepts DTR and RTS without effect.
    virtual TOsError EscapeCommFunction(THandle device, std::uint32_t function) = 0;
    // Sends one character ahead of the bytes still waiting in pending writes.
    virtual TOsError TransmitCommChar(THandle device, char character) = 0;
    virtual TOsError ClearCommError(THandle device, std::uint32_t& errors, TComStat& stat) = 0;
    // A device whose driver has no modem lines (a virtual port) reports all
    // lines off, as a virtual COM port does.
    virtual TOsError GetCommModemStatus(THandle device, std::uint32_t& status) = 0;

    // A device that went away while open (an adapter pulled, the other end of
    // a pseudo-terminal closed) fails every later wait, and every read and
    // ClearCommError once the bytes received before the loss are consumed,
    // with the error that told of the loss.

    // Line events. A pending wait fills mask when it completes. EvTxEmpty
    // is raised once the output queue has drained after a write.
    virtual TOsError SetCommMask(THandle device, std::uint32_t mask) = 0;
    virtual TOsError WaitCommEvent(THandle device, std::uint32_t& mask, TOverlapped& overlapped) = 0;

    // Event objects.
    virtual TOsError CreateEventObject(bool manualReset, bool initialState, THandle& event) = 0;
    virtual TOsError SetEvent(THandle event) = 0;
    virtual TOsError ResetEvent(THandle event) = 0;
    // Waits until any of the events is signalled; the lowest signalled index wins.
    virtual TWaitResult WaitForMultipleObjects(std::span<const THandle> events, std::uint32_t timeoutMs) = 0;

    // The system's message text for an error code of this layer.
    virtual std::string ErrorText(TOsError error) const = 0;
};

// The backend a new port uses: the Linux one on this platform.
TCommLayer& DefaultCommLayer();

} // namespace Comm
