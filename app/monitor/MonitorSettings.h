#pragma once

// The choices the monitor remembers between runs: the line's settings,
// stored by the port itself, and the window's own, in one initialisation
// file in the user's config folder.

#include <QString>

class TCustomComPort;

struct TMonitorChoices {
    bool Timestamps = false;
    bool Hex = false;
    bool NoReset = false;
    int LineEnding = 1;
    QString FlashSpeed = QStringLiteral("57600");
};

// <config folder>/zorbel-monitor/zorbel-monitor.ini
QString MonitorSettingsFile();
void LoadMonitorSettings(TCustomComPort& port, TMonitorChoices& choices);
// The reason when the file could not be written, else empty.
QString StoreMonitorSettings(TCustomComPort& port, const TMonitorChoices& choices);
