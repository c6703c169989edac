#include "BootLoaderProbe.h"

#include "ComPort.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

namespace {

constexpr char SyncRequest[] = {0x30, 0x20};     // STK_GET_SYNC, CRC_EOP
constexpr char InSyncReply[] = {0x14, 0x10};     // STK_INSYNC, STK_OK
constexpr int SyncAttempts = 5;
constexpr std::int32_t ReplyTimeoutMs = 300;

void SetSpeed(TCustomComPort& port, std::int32_t speed)
{
    const auto found = std::find(BaudRateDeviceValues.begin(), BaudRateDeviceValues.end(),
                                 static_cast<std::uint32_t>(speed));
    if (found != BaudRateDeviceValues.end() && found != BaudRateDeviceValues.begin() + brCustom) {
        port.SetBaudRate(static_cast<TBaudRate>(found - BaudRateDeviceValues.begin()));
        return;
    }
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(speed);
}

// The reset the flasher gives the board: both lines off, then on, and time
// for the boot loader to start.
void ResetBoard(TCustomComPort& port)
{
    port.SetDTR(false);
    port.SetRTS(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port.SetDTR(true);
    port.SetRTS(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
}

// Resets the board and sends sync requests until the loader answers in sync.
TProbeResult ExchangeSync(TCustomComPort& port)
{
    ResetBoard(port);
    port.ClearBuffer(true, true);
    std::string reply;
    for (int attempt = 0; attempt < SyncAttempts; ++attempt) {
        port.Write(SyncRequest, sizeof SyncRequest);
        char buffer[64];
        const std::int32_t n = port.Read(buffer, sizeof InSyncReply);
        reply.append(buffer, static_cast<std::size_t>(std::max(n, 0)));
        if (reply.find(std::string(InSyncReply, sizeof InSyncReply)) != std::string::npos)
            return TProbeResult::InSync;
    }
    return TProbeResult::NoAnswer;
}

} // namespace

TProbeResult ProbeBootLoader(TCustomComPort& port, std::int32_t speed)
{
    SetSpeed(port, speed);
    port.SetDataBits(dbEight);
    port.SetStopBits(sbOne);
    port.Parity().SetBits(prNone);
    port.FlowControl().SetFlowControl(fcNone);
    port.SetEvents({});
    // A read waits for the reply at most this long; a write never hangs on
    // a line that does not take it.
    port.Timeouts().SetReadInterval(0);
    port.Timeouts().SetReadTotalMultiplier(0);
    port.Timeouts().SetReadTotalConstant(ReplyTimeoutMs);
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(1000);

    port.Open();
    // Closes the port when the exchange throws. The error under way is the
    // one to report, and a Close that fails too (the device may be gone,
    // often the very reason we are leaving) must not leave this destructor:
    // thrown during unwinding it would end the program. So it is swallowed
    // here, and only here; a Close after a finished exchange reports.
    struct CloseOnError {
        TCustomComPort& port;
        bool armed = true;
        ~CloseOnError()
        {
            if (!armed)
                return;
            try {
                port.Close();
            } catch (...) {
            }
        }
    } closeOnError{port};

    const TProbeResult result = ExchangeSync(port);
    closeOnError.armed = false;
    port.Close();
    return result;
}
