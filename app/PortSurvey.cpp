#include "PortSurvey.h"

#include "BootLoaderProbe.h"
#include "ComErrors.h"
#include "ComPort.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

namespace {

// The system's answer to opening a port someone else has open: the
// component's exclusive open finds it taken.
bool IsBusy(std::int32_t error)
{
#ifdef _WIN32
    constexpr std::int32_t AccessDenied = 5; // ERROR_ACCESS_DENIED
    return error == AccessDenied;
#else
    return error == EBUSY;
#endif
}

TPortSurvey SurveyOne(const QString& name, const std::vector<std::int32_t>& speeds)
{
    TPortSurvey survey;
    survey.Port = name;
    TCustomComPort port;
    port.SetPortName(name);
    try {
        for (const std::int32_t speed : speeds) {
            if (ProbeBootLoader(port, speed) == TProbeResult::InSync) {
                survey.Outcome = TSurveyOutcome::InSync;
                survey.Speed = speed;
                return survey;
            }
        }
    } catch (const EComPort& e) {
        survey.Outcome = IsBusy(e.WinCode()) ? TSurveyOutcome::Busy : TSurveyOutcome::Failed;
        survey.Error = QString::fromLocal8Bit(e.what());
        if (e.WinCode() > 0)
            survey.Error += QStringLiteral(": ") + QString::fromStdString(port.CommLayer().ErrorText(e.WinCode()));
    }
    return survey;
}

} // namespace

// Each probe waits for the board's reset and its replies, so ports are
// probed side by side: a few workers take the next port in turn.
std::vector<TPortSurvey> SurveyPorts(const QStringList& ports, const std::vector<std::int32_t>& speeds)
{
    std::vector<TPortSurvey> results(static_cast<std::size_t>(ports.size()));
    std::atomic<qsizetype> next{0};
    const auto work = [&] {
        for (qsizetype i; (i = next++) < ports.size();)
            results[static_cast<std::size_t>(i)] = SurveyOne(ports[i], speeds);
    };
    {
        // Joined at the end of the scope, before the results are read.
        std::vector<std::jthread> workers;
        const qsizetype count = std::min<qsizetype>(SurveyParallel, ports.size());
        for (qsizetype i = 0; i < count; ++i)
            workers.emplace_back(work);
    }
    return results;
}
