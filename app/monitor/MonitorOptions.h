#pragma once

// The monitor's command line, for scripts and tests:
//   zorbel-monitor [--port NAME] [--speed N] [--log FILE] [--hex]
//                  [--timestamps] [--no-reset] [--flash 57600|28800]

#include <QString>
#include <QStringList>

struct TMonitorOptions {
    QString Port;
    // 0: the speed remembered.
    int Speed = 0;
    QString LogFile;
    bool Hex = false;
    bool Timestamps = false;
    bool NoReset = false;
    // The boot loader's speed of a FLASH run once the port is open; empty
    // for none.
    QString Flash;
    bool Help = false;
};

// Reads the arguments after the program's name. False, with the reason in
// error, for an option that is unknown, lacks its value or has a wrong one.
bool ParseMonitorOptions(const QStringList& arguments, TMonitorOptions& options, QString* error);

QString MonitorUsage();
