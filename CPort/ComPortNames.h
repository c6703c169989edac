#pragma once

#include <QString>
#include <QStringList>

// Where the serial devices of the machine are listed: on Linux the kernel's
// tty class directory and the directory of the device nodes the names are
// built with; on Windows the registry key that names the ports.
struct TPortSource {
    // The machine's own.
    TPortSource();
    TPortSource(QString listing, QString deviceDir);

    QString Listing;
    QString DeviceDir;
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

// The order of the port list.
void SortPortNames(QStringList& names);
