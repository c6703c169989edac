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

// A port behind a USB adapter, where a boot loader sits. The others are
// built into the machine, and their lines may serve something else.
bool HasUsbDevice(const TPortDetails& port)
{
    return port.VendorId >= 0;
}

void Probe(TCustomComPort& port, const std::vector<std::int32_t>& speeds, TPortSurvey& survey)
{
    try {
        for (const std::int32_t speed : speeds) {
            if (ProbeBootLoader(port, speed) == TProbeResult::InSync) {
                survey.Outcome = TSurveyOutcome::InSync;
                survey.Speed = speed;
                return;
            }
        }
    } catch (const EComPort& e) {
        survey.Outcome = IsBusy(e.WinCode()) ? TSurveyOutcome::Busy : TSurveyOutcome::Failed;
        survey.Error = QString::fromLocal8Bit(e.what());
        if (e.WinCode() > 0)
            survey.Error += QStringLiteral(": ") + QString::fromStdString(port.CommLayer().ErrorText(e.WinCode()));
    }
}

TPortSurvey SurveyOne(const TPortDetails& details, const std::vector<std::int32_t>& speeds,
                      const TSurveyOptions& options)
{
    TPortSurvey survey;
    survey.Port = details.Name;
    if (!options.All && !HasUsbDevice(details)) {
        survey.Outcome = TSurveyOutcome::NotUsb;
        return survey;
    }
    // Asked just before the port is opened, so that the open itself (which
    // sets the line's speed) never happens under another program.
    Platform::TDeviceUsers users = Platform::FindDeviceUsers(details.Name.toLocal8Bit().toStdString(),
                                                             options.ProcessDir);
    survey.UsersAllSeen = users.AllSeen;
    if (!users.Users.empty()) {
        survey.Outcome = TSurveyOutcome::Busy;
        survey.Users = std::move(users.Users);
        return survey;
    }
    TCustomComPort port;
    port.SetPortName(details.Name);
    Probe(port, speeds, survey);
    return survey;
}

} // namespace

// Each probe waits for the board's reset and its replies, so ports are
// probed side by side: a few workers take the next port in turn.
std::vector<TPortSurvey> SurveyPorts(const QList<TPortDetails>& ports, const std::vector<std::int32_t>& speeds,
                                     const TSurveyOptions& options)
{
    std::vector<TPortSurvey> results(static_cast<std::size_t>(ports.size()));
    std::atomic<qsizetype> next{0};
    const auto work = [&] {
        for (qsizetype i; (i = next++) < ports.size();)
            results[static_cast<std::size_t>(i)] = SurveyOne(ports[i], speeds, options);
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
