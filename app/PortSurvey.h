#pragma once

// Probes every port for the board's boot loader, several ports at once,
// each port opened only for its own try and closed after it.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

enum class TSurveyOutcome { InSync, NoAnswer, Busy, Failed };

struct TPortSurvey {
    QString Port;
    TSurveyOutcome Outcome = TSurveyOutcome::NoAnswer;
    // The speed the boot loader answered at.
    std::int32_t Speed = 0;
    // Why the port could not be probed.
    QString Error;
};

// How many ports are probed at the same time.
inline constexpr int SurveyParallel = 4;

// The outcome of each port, in the order given. Each port is tried at each
// speed until its boot loader answers. A port another program has open is
// left alone (Busy); one that cannot be opened is skipped (Failed).
std::vector<TPortSurvey> SurveyPorts(const QStringList& ports, const std::vector<std::int32_t>& speeds);
