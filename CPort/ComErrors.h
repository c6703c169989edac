#pragma once

#include "ComExceptions.h"

#include <QString>

#include <cstdint>

// The port's error codes. Every failure of the component is reported by one
// of these numbers, with a fixed English message.
enum TComErrorCode : std::uint16_t {
    ecOpenFailed = 1,
    ecWriteFailed,
    ecReadFailed,
    ecInvalidAsync,
    ecPurgeFailed,
    ecAsyncStatus,
    ecSetStateFailed,
    ecTimeoutsFailed,
    ecSetupFailed,
    ecClearErrorFailed,
    ecModemStatusFailed,
    ecEscapeFailed,
    ecTransmitFailed,
    ecSetWhileConnected,
    ecEnumPortsFailed,
    ecStoreFailed,
    ecLoadFailed,
    ecLinkFailed,
    ecLedState,
    ecThreadCreated,
    ecWaitFailed,
    ecRxBufLinked,
    ecRegistryError,
    ecPortNotOpen,
};

inline constexpr int PortErrorCount = 24;

// Fills the message table; run once at program start, before any port exists.
void InitPortErrorMessages();

// The message of a code from 1 to 24. Fills the table on first use if start-up
// did not.
const QString& PortErrorMessage(int code);

class EComPort : public Exception {
public:
    // Without an operating-system error: the bare message, WinCode -1.
    explicit EComPort(int code);
    // With one: the message followed by " (Error: n)", n shown as signed 32-bit.
    EComPort(int code, std::int32_t winCode);

    std::int32_t WinCode() const { return winCode_; }
    std::int32_t Code() const { return code_; }

private:
    std::int32_t winCode_;
    std::int32_t code_;
};
