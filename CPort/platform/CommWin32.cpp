// The communications layer on Windows: each call is the Win32 call it
// mirrors, on the caller's own records. The layer's records have the Windows
// layouts (checked below), so they are handed over as they are: an overlapped
// operation keeps writing into the caller's record and mask after the call
// returns, exactly as the component expects of Windows.

#include "CommLayer.h"
#include "SystemError.h"
#include "WideText.h"

#include <windows.h>

#include <bit>
#include <cstddef>
#include <cstring>
#include <vector>

namespace Comm {

static_assert(sizeof(TDCB) == sizeof(DCB));
static_assert(offsetof(TDCB, wReserved) == offsetof(DCB, wReserved));
static_assert(offsetof(TDCB, EvtChar) == offsetof(DCB, EvtChar));
static_assert(sizeof(TCommTimeouts) == sizeof(COMMTIMEOUTS));
static_assert(sizeof(TComStat) == sizeof(COMSTAT));
static_assert(offsetof(TComStat, cbInQue) == offsetof(COMSTAT, cbInQue));
static_assert(sizeof(TOverlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(TOverlapped, Offset) == offsetof(OVERLAPPED, Offset));
static_assert(offsetof(TOverlapped, hEvent) == offsetof(OVERLAPPED, hEvent));
static_assert(sizeof(std::uint32_t) == sizeof(DWORD));

// The flag word's bits are the Windows bit fields, in the compiler's order.
constexpr DCB DcbWithFields()
{
    DCB dcb{};
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fAbortOnError = 1;
    return dcb;
}
static_assert(std::bit_cast<TDCB>(DcbWithFields()).Flags ==
              (dcb_Binary | DtrControlHandshake | RtsControlToggle | dcb_AbortOnError));

static_assert(EvRxChar == EV_RXCHAR && EvRxFlag == EV_RXFLAG && EvTxEmpty == EV_TXEMPTY && EvCts == EV_CTS &&
              EvDsr == EV_DSR && EvRlsd == EV_RLSD && EvBreak == EV_BREAK && EvErr == EV_ERR && EvRing == EV_RING &&
              EvRx80Full == EV_RX80FULL);
static_assert(CeRxOver == CE_RXOVER && CeOverrun == CE_OVERRUN && CeRxParity == CE_RXPARITY && CeFrame == CE_FRAME &&
              CeBreak == CE_BREAK && CeTxFull == CE_TXFULL && CeIoe == CE_IOE && CeMode == CE_MODE);
static_assert(MsCtsOn == MS_CTS_ON && MsDsrOn == MS_DSR_ON && MsRingOn == MS_RING_ON && MsRlsdOn == MS_RLSD_ON);
static_assert(PurgeTxAbort == PURGE_TXABORT && PurgeRxAbort == PURGE_RXABORT && PurgeTxClear == PURGE_TXCLEAR &&
              PurgeRxClear == PURGE_RXCLEAR);
static_assert(EscSetXoff == SETXOFF && EscSetXon == SETXON && EscSetRts == SETRTS && EscClrRts == CLRRTS &&
              EscSetDtr == SETDTR && EscClrDtr == CLRDTR && EscSetBreak == SETBREAK && EscClrBreak == CLRBREAK);
static_assert(NoParity == NOPARITY && OddParity == ODDPARITY && EvenParity == EVENPARITY &&
              MarkParity == MARKPARITY && SpaceParity == SPACEPARITY);
static_assert(OneStopBit == ONESTOPBIT && One5StopBits == ONE5STOPBITS && TwoStopBits == TWOSTOPBITS);
static_assert(WaitObject0 == WAIT_OBJECT_0 && WaitTimeout == WAIT_TIMEOUT && WaitFailed == WAIT_FAILED &&
              Infinite == INFINITE && MaxDword == MAXDWORD);
static_assert(IoPending == ERROR_IO_PENDING && IoIncomplete == ERROR_IO_INCOMPLETE &&
              OperationAborted == ERROR_OPERATION_ABORTED && InvalidParameter == ERROR_INVALID_PARAMETER);

namespace {

HANDLE Win(THandle handle) { return reinterpret_cast<HANDLE>(handle); }
THandle Ours(HANDLE handle) { return reinterpret_cast<THandle>(handle); }
OVERLAPPED* Win(TOverlapped& overlapped) { return reinterpret_cast<OVERLAPPED*>(&overlapped); }
TOsError Outcome(BOOL ok) { return ok ? NoError : GetLastError(); }

// Every port opens through the device namespace: names from COM10 up exist
// only there, and a name that already is a device path is kept.
std::wstring DevicePath(const std::string& portName)
{
    if (portName.starts_with("\\\\"))
        return Platform::WideFromUtf8(portName);
    return L"\\\\.\\" + Platform::WideFromUtf8(portName);
}

class TWin32CommLayer final : public TCommLayer {
public:
    TOsError CreateDevice(const std::string& path, THandle& handle) override;
    TOsError CloseHandle(THandle handle) override { return Outcome(::CloseHandle(Win(handle))); }
    TOsError SetCommState(THandle device, const TDCB& dcb) override;
    TOsError SetCommTimeouts(THandle device, const TCommTimeouts& timeouts) override;
    TOsError SetupComm(THandle device, std::uint32_t inQueue, std::uint32_t outQueue) override
    {
        return Outcome(::SetupComm(Win(device), inQueue, outQueue));
    }
    TOsError PurgeComm(THandle device, std::uint32_t flags) override
    {
        return Outcome(::PurgeComm(Win(device), flags));
    }
    TOsError ReadFile(THandle device, void* buffer, std::uint32_t count, std::uint32_t& read,
                      TOverlapped& overlapped) override;
    TOsError GetOverlappedResult(THandle device, TOverlapped& overlapped, std::uint32_t& transferred,
                                 bool wait) override;
    TOsError WriteFile(THandle device, const void* buffer, std::uint32_t count, std::uint32_t& written,
                       TOverlapped& overlapped) override;
    TOsError EscapeCommFunction(THandle device, std::uint32_t function) override
    {
        return Outcome(::EscapeCommFunction(Win(device), function));
    }
    TOsError TransmitCommChar(THandle device, char character) override
    {
        return Outcome(::TransmitCommChar(Win(device), character));
    }
    TOsError ClearCommError(THandle device, std::uint32_t& errors, TComStat& stat) override;
    TOsError GetCommModemStatus(THandle device, std::uint32_t& status) override;
    TOsError SetCommMask(THandle device, std::uint32_t mask) override
    {
        return Outcome(::SetCommMask(Win(device), mask));
    }
    TOsError WaitCommEvent(THandle device, std::uint32_t& mask, TOverlapped& overlapped) override;
    TOsError CreateEventObject(bool manualReset, bool initialState, THandle& event) override;
    TOsError SetEvent(THandle event) override { return Outcome(::SetEvent(Win(event))); }
    TOsError ResetEvent(THandle event) override { return Outcome(::ResetEvent(Win(event))); }
    TWaitResult WaitForMultipleObjects(std::span<const THandle> events, std::uint32_t timeoutMs) override;
    std::string ErrorText(TOsError error) const override;
};

TOsError TWin32CommLayer::CreateDevice(const std::string& path, THandle& handle)
{
    const HANDLE device = ::CreateFileW(DevicePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return GetLastError();
    handle = Ours(device);
    return NoError;
}

TOsError TWin32CommLayer::SetCommState(THandle device, const TDCB& dcb)
{
    DCB record;
    std::memcpy(&record, &dcb, sizeof record);
    record.DCBlength = sizeof record;
    return Outcome(::SetCommState(Win(device), &record));
}

TOsError TWin32CommLayer::SetCommTimeouts(THandle device, const TCommTimeouts& timeouts)
{
    COMMTIMEOUTS record;
    std::memcpy(&record, &timeouts, sizeof record);
    return Outcome(::SetCommTimeouts(Win(device), &record));
}

TOsError TWin32CommLayer::ReadFile(THandle device, void* buffer, std::uint32_t count, std::uint32_t& read,
                                   TOverlapped& overlapped)
{
    DWORD done = 0;
    const TOsError error = Outcome(::ReadFile(Win(device), buffer, count, &done, Win(overlapped)));
    if (error == NoError)
        read = done;
    return error;
}

TOsError TWin32CommLayer::GetOverlappedResult(THandle device, TOverlapped& overlapped, std::uint32_t& transferred,
                                              bool wait)
{
    DWORD done = 0;
    const TOsError error = Outcome(::GetOverlappedResult(Win(device), Win(overlapped), &done, wait));
    transferred = done;
    return error;
}

TOsError TWin32CommLayer::WriteFile(THandle device, const void* buffer, std::uint32_t count, std::uint32_t& written,
                                    TOverlapped& overlapped)
{
    DWORD done = 0;
    const TOsError error = Outcome(::WriteFile(Win(device), buffer, count, &done, Win(overlapped)));
    if (error == NoError)
        written = done;
    return error;
}

TOsError TWin32CommLayer::ClearCommError(THandle device, std::uint32_t& errors, TComStat& stat)
{
    DWORD found = 0;
    COMSTAT record{};
    const TOsError error = Outcome(::ClearCommError(Win(device), &found, &record));
    if (error == NoError) {
        errors = found;
        std::memcpy(&stat, &record, sizeof stat);
    }
    return error;
}

TOsError TWin32CommLayer::GetCommModemStatus(THandle device, std::uint32_t& status)
{
    DWORD lines = 0;
    const TOsError error = Outcome(::GetCommModemStatus(Win(device), &lines));
    if (error == NoError)
        status = lines;
    return error;
}

// The mask is written when the wait completes, which may be long after this
// call: the caller's own word is handed over.
TOsError TWin32CommLayer::WaitCommEvent(THandle device, std::uint32_t& mask, TOverlapped& overlapped)
{
    return Outcome(::WaitCommEvent(Win(device), reinterpret_cast<DWORD*>(&mask), Win(overlapped)));
}

TOsError TWin32CommLayer::CreateEventObject(bool manualReset, bool initialState, THandle& event)
{
    const HANDLE created = ::CreateEventW(nullptr, manualReset, initialState, nullptr);
    if (!created)
        return GetLastError();
    event = Ours(created);
    return NoError;
}

TWaitResult TWin32CommLayer::WaitForMultipleObjects(std::span<const THandle> events, std::uint32_t timeoutMs)
{
    if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS)
        return {WaitFailed, InvalidParameter};
    std::vector<HANDLE> handles;
    handles.reserve(events.size());
    for (const THandle event : events)
        handles.push_back(Win(event));
    const DWORD result =
        ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeoutMs);
    if (result == WAIT_FAILED)
        return {WaitFailed, GetLastError()};
    return {result, NoError};
}

std::string TWin32CommLayer::ErrorText(TOsError error) const
{
    return Platform::SystemErrorText(error);
}

} // namespace

TCommLayer& DefaultCommLayer()
{
    static TWin32CommLayer layer;
    return layer;
}

} // namespace Comm
