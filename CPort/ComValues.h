#pragma once

// The value types of a serial line's settings, their text forms and their
// device values. Member order matters: the text tables, the device tables and
// the selector lists are all indexed by ordinal.

#include <QString>

#include <array>
#include <cstdint>

enum TBaudRate : std::uint8_t {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TStopBits : std::uint8_t { sbOne, sbOneAndHalf, sbTwo };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };

static_assert(sizeof(TBaudRate) == 1 && sizeof(TFlowControl) == 1);

inline constexpr int BaudRateCount = 16;
inline constexpr int StopBitsCount = 3;
inline constexpr int DataBitsCount = 4;
inline constexpr int ParityCount = 5;
inline constexpr int DTRControlCount = 3;
inline constexpr int RTSControlCount = 4;
inline constexpr int FlowControlCount = 4;

// Device values written into the device control block.
inline constexpr std::array<std::uint32_t, BaudRateCount> BaudRateDeviceValues = {
    0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400,
    19200, 38400, 56000, 57600, 115200, 128000, 256000};
inline constexpr std::array<std::uint8_t, DataBitsCount> DataBitsDeviceValues = {5, 6, 7, 8};
inline constexpr std::array<std::uint32_t, DTRControlCount> DTRControlFlagBits = {0x0000, 0x0010, 0x0020};
inline constexpr std::array<std::uint32_t, RTSControlCount> RTSControlFlagBits = {0x0000, 0x1000, 0x2000, 0x3000};

// To text: the constant table entry of the member.
QString BaudRateText(TBaudRate value);
QString StopBitsText(TStopBits value);
QString DataBitsText(TDataBits value);
QString ParityText(TParityBits value);
QString FlowControlText(TFlowControl value);
QString DTRControlText(TDTRFlowControl value);
QString RTSControlText(TRTSFlowControl value);
QString YesNoText(bool value);
QString CharText(char value);

// From text: ASCII-only case folding, no trimming, first match wins, and an
// unrecognised text gives the function's own default.
TBaudRate BaudRateFromText(const QString& text);
TStopBits StopBitsFromText(const QString& text);
TDataBits DataBitsFromText(const QString& text);
TParityBits ParityFromText(const QString& text);
TFlowControl FlowControlFromText(const QString& text);
TDTRFlowControl DTRControlFromText(const QString& text);
TRTSFlowControl RTSControlFromText(const QString& text);
bool YesNoFromText(const QString& text);
char CharFromText(const QString& text);
