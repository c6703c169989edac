#pragma once

// The list logic of a port property selector: which property it shows, the
// values it lists, the choice last recorded or found, and handing that choice
// to the linked port.

#include "ComValues.h"

#include <QString>

#include <cstdint>

class QStringListModel;
class TCustomComPort;

enum TComProperty : std::uint8_t { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

class TComSelect {
public:
    QString ChosenPort;
    TBaudRate ChosenBaudRate = TBaudRate{};
    TDataBits ChosenDataBits = TDataBits{};
    TStopBits ChosenStopBits = TStopBits{};
    TParityBits ChosenParity = TParityBits{};
    TFlowControl ChosenFlowControl = TFlowControl{};
    // The combo box's own item list; not owned.
    QStringListModel* Items = nullptr;
    TComProperty ComProperty = cpNone;
    // The linked port; not owned.
    TCustomComPort* ComPort = nullptr;
    bool AutoApply = false;

    // Stores the property and fills the list with its values.
    void SetComProperty(TComProperty value);
    void ListPorts();
    void ListBaudRates();
    void ListDataBits();
    void ListStopBits();
    void ListParities();
    void ListFlowControls();

    // Records text as the value of the current property, and applies it to the
    // linked port when AutoApply is on.
    void RecordChoice(const QString& text);
    void ApplyChoice();
    // Sets index to the entry of the linked port's current value (-1 when the
    // list has none) and records that entry; leaves index alone when there is
    // no port or no property.
    void FindPortValue(int& index);

private:
    void Fill(const QStringList& texts);
    void RecordText(const QString& text);
};
