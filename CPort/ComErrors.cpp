#include "ComErrors.h"

#include <QStringList>

#include <mutex>

namespace {

const char* const MessageTexts[PortErrorCount] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

// Index 0 is unused so that the table is indexed by code.
QStringList& MessageTable()
{
    static QStringList table;
    return table;
}

std::once_flag messagesFilled;

} // namespace

void InitPortErrorMessages()
{
    std::call_once(messagesFilled, [] {
        QStringList& table = MessageTable();
        table.append(QString());
        for (const char* text : MessageTexts)
            table.append(QString::fromLatin1(text));
    });
}

const QString& PortErrorMessage(int code)
{
    InitPortErrorMessages();
    // ReportError passes on any 16-bit code; one outside the table has no text.
    static const QString none;
    const QStringList& table = MessageTable();
    return code >= 1 && code < table.size() ? table[code] : none;
}

EComPort::EComPort(int code)
    : Exception(PortErrorMessage(code)), winCode_(-1), code_(code)
{
}

EComPort::EComPort(int code, std::int32_t winCode)
    : Exception(PortErrorMessage(code) + QStringLiteral(" (Error: %1)").arg(winCode)), winCode_(winCode), code_(code)
{
}
