#pragma once

// What is behind each serial port, beside the bare names of ComPortNames.h.

#include "ComPortNames.h"

#include <QList>
#include <QString>

struct TPortDetails {
    QString Name;
    QString Description;
    QString Manufacturer;
    QString SerialNumber;
    int VendorId = -1;
    int ProductId = -1;
    QString Location;
    QString Driver;
};

// Replaces the content of Ports with the machine's serial ports, the same
// ports in the same order as GetComPortNames lists them, each with what can
// be told about it (what cannot be read stays empty, ids -1; nothing is
// made up for what a device did not say). When the
// source cannot be read, Ports is left exactly as it was.
void GetComPortDetails(QList<TPortDetails>& Ports);
void GetComPortDetails(QList<TPortDetails>& Ports, const TPortSource& Source);

// One line for a person choosing a port: the description and its maker
// ("FT232R USB UART — FTDI"), either alone when the other is unknown. A
// port without a description is labelled by its kind where that is known
// ("USB serial port", "Built-in serial port", "Bluetooth link"); the
// label is only shown, never stored in the details.
QString PortDetailsText(const TPortDetails& Port);
