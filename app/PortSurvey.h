#pragma once

// Probes every port for the board's boot loader, several ports at once,
// each port opened only for its own try and closed after it.

#include "ComPortDetails.h"
#include "DeviceUsers.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

enum class TSurveyOutcome { InSync, NoAnswer, Busy, NotUsb, Failed };

struct TPortSurvey {
    QString Port;
    TSurveyOutcome Outcome = TSurveyOutcome::NoAnswer;
    // The speed the boot loader answered at.
    std::int32_t Speed = 0;
    // Why the port could not be probed.
    QString Error;
    // The other programs seen to have a busy port open; none when the port
    // was found locked by its open.
    std::vector<Platform::TDeviceUser> Users;
    // False when the programs of other users could not be looked at before
    // the port was probed.
    bool UsersAllSeen = true;
};

struct TSurveyOptions {
    // Also the ports with no USB device behind them (built-in UARTs, which
    // may carry a console, a UPS or a modem).
    bool All = false;
    // Where the system lists its processes (empty: the system's own).
    std::string ProcessDir;
};

// How many ports are probed at the same time.
inline constexpr int SurveyParallel = 4;

// The outcome of each port, in the order given. Each port is tried at each
// speed until its boot loader answers. A port with no USB device behind it
// is left out unless options.All (NotUsb); one another program has open is
// left alone (Busy); one that cannot be opened is skipped (Failed).
std::vector<TPortSurvey> SurveyPorts(const QList<TPortDetails>& ports, const std::vector<std::int32_t>& speeds,
                                     const TSurveyOptions& options);
