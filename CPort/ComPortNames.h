#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Where the serial devices of the machine are listed: the kernel's tty class
// directory, and the directory of the device nodes the names are built with.
struct TPortSource {
    QString TtyClassDir = QStringLiteral("/sys/class/tty");
    QString DeviceDir = QStringLiteral("/dev");
};

// Replaces the content of Ports with the serial ports of the machine, sorted
// by the user locale's case-insensitive text order (duplicates kept). When the
// source cannot be read, Ports is left exactly as it was.
void GetComPortNames(QStringList& Ports);
void GetComPortNames(QStringList& Ports, const TPortSource& Source);

// The source the one-argument form reads; the machine's own unless changed
// (tests point it at a tree of their own).
TPortSource DefaultPortSource();
void SetDefaultPortSource(const TPortSource& Source);

// The platform's list of serial devices in no particular order, or nothing
// when the source cannot be read.
std::optional<QStringList> ListSerialDevices(const TPortSource& Source);

// The order of the port list.
void SortPortNames(QStringList& names);
