#include "ComValues.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

namespace {

const std::array<QString, BaudRateCount> BaudRateTexts = {
    "Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
    "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
const std::array<QString, StopBitsCount> StopBitsTexts = {"1", "1.5", "2"};
const std::array<QString, DataBitsCount> DataBitsTexts = {"5", "6", "7", "8"};
const std::array<QString, ParityCount> ParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
const std::array<QString, FlowControlCount> FlowControlTexts = {"Hardware", "Software", "None", "Custom"};
const std::array<QString, DTRControlCount> DTRControlTexts = {"Disable", "Enable", "Handshake"};
const std::array<QString, RTSControlCount> RTSControlTexts = {"Disable", "Enable", "Handshake", "Toggle"};

// Upper-cases ASCII letters only; every other character stays as it is.
QString AsciiUpper(const QString& text)
{
    QString result = text;
    for (QChar& c : result) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - ('a' - 'A'));
    }
    return result;
}

template <typename E, std::size_t N>
E FromText(const std::array<QString, N>& table, const QString& text, E fallback)
{
    const QString wanted = AsciiUpper(text);
    for (std::size_t i = 0; i < N; ++i) {
        if (AsciiUpper(table[i]) == wanted)
            return static_cast<E>(i);
    }
    return fallback;
}

// A whole, optionally signed, decimal 32-bit integer and nothing else.
bool ParseStrictInt32(const QString& text, std::int32_t& value)
{
    const std::string s = text.toStdString();
    const char* first = s.data();
    const char* last = s.data() + s.size();
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    if (first == last || *first < '0' || *first > '9')
        return false;
    std::int64_t magnitude = 0;
    auto [end, ec] = std::from_chars(first, last, magnitude);
    if (ec != std::errc() || end != last)
        return false;
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue < std::numeric_limits<std::int32_t>::min() || signedValue > std::numeric_limits<std::int32_t>::max())
        return false;
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

} // namespace

QString BaudRateText(TBaudRate value) { return BaudRateTexts.at(value); }
QString StopBitsText(TStopBits value) { return StopBitsTexts.at(value); }
QString DataBitsText(TDataBits value) { return DataBitsTexts.at(value); }
QString ParityText(TParityBits value) { return ParityTexts.at(value); }
QString FlowControlText(TFlowControl value) { return FlowControlTexts.at(value); }
QString DTRControlText(TDTRFlowControl value) { return DTRControlTexts.at(value); }
QString RTSControlText(TRTSFlowControl value) { return RTSControlTexts.at(value); }

TBaudRate BaudRateFromText(const QString& text) { return FromText(BaudRateTexts, text, br9600); }
TStopBits StopBitsFromText(const QString& text) { return FromText(StopBitsTexts, text, sbOne); }
TDataBits DataBitsFromText(const QString& text) { return FromText(DataBitsTexts, text, dbEight); }
TParityBits ParityFromText(const QString& text) { return FromText(ParityTexts, text, prNone); }
TFlowControl FlowControlFromText(const QString& text) { return FromText(FlowControlTexts, text, fcCustom); }
TDTRFlowControl DTRControlFromText(const QString& text) { return FromText(DTRControlTexts, text, dtrDisable); }
TRTSFlowControl RTSControlFromText(const QString& text) { return FromText(RTSControlTexts, text, rtsDisable); }

QString YesNoText(bool value) { return value ? QStringLiteral("Yes") : QStringLiteral("No"); }

bool YesNoFromText(const QString& text) { return AsciiUpper(text) == QLatin1String("YES"); }

QString CharText(char value)
{
    const unsigned code = static_cast<unsigned char>(value);
    if (code >= 33 && code <= 127)
        return QString(QChar(code));
    return QLatin1Char('#') + QString::number(code);
}

char CharFromText(const QString& text)
{
    if (text.isEmpty())
        return 0;
    if (text.startsWith(QLatin1Char('#')) && text.size() > 1) {
        std::int32_t code = 0;
        if (!ParseStrictInt32(text.mid(1), code))
            return 0;
        return static_cast<char>(static_cast<std::uint32_t>(code) & 0xFF);
    }
    return static_cast<char>(text.front().toLatin1());
}
