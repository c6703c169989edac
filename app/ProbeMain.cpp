// zorbel-probe PORT [SPEED...]: tells which speed the board's boot loader
// listens at (57600 for the new firmware, 28800 for the old), before FLASH.
// zorbel-probe --list: the machine's ports and what is behind each.
// zorbel-probe --find [--all] [SPEED...]: which port the board is on, and
// its speed; only the ports with a USB device behind them unless --all, and
// never a port another program has open.
// Exit status: 0 when a speed answered in sync, 1 when none did, 2 when the
// port failed or the command line is wrong.

#include "BootLoaderProbe.h"
#include "ComErrors.h"
#include "ComPort.h"
#include "ComPortDetails.h"
#include "PortSurvey.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t DefaultSpeeds[] = {57600, 28800};

bool ParseSpeed(const char* text, std::int32_t& speed)
{
    try {
        std::size_t end = 0;
        const long value = std::stol(text, &end);
        if (text[end] != '\0' || value <= 0 || value > INT32_MAX)
            return false;
        speed = static_cast<std::int32_t>(value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int Usage()
{
    std::fputs("usage: zorbel-probe PORT [SPEED...]\n"
               "       zorbel-probe --list\n"
               "       zorbel-probe --find [--all] [SPEED...]\n"
               "Resets the board on PORT and asks its boot loader for sync at each SPEED\n"
               "(default: 57600, then 28800); --find does so on every port with a USB\n"
               "device behind it (--all: on every port) that no other program has open;\n"
               "--list shows the ports and what is behind each.\n",
               stderr);
    return 2;
}

// The speeds from argv[first] on, or the default ones; false on a bad one.
bool ParseSpeeds(int argc, char** argv, int first, std::vector<std::int32_t>& speeds)
{
    for (int i = first; i < argc; ++i) {
        std::int32_t speed = 0;
        if (!ParseSpeed(argv[i], speed)) {
            std::fprintf(stderr, "zorbel-probe: not a speed: %s\n", argv[i]);
            return false;
        }
        speeds.push_back(speed);
    }
    if (speeds.empty())
        speeds.assign(std::begin(DefaultSpeeds), std::end(DefaultSpeeds));
    return true;
}

// The machine's ports, or those of another listing when the environment
// names one (ZORBEL_PORT_LISTING and ZORBEL_PORT_DEVICE_DIR).
TPortSource PortSource()
{
    TPortSource source;
    if (const char* listing = std::getenv("ZORBEL_PORT_LISTING"))
        source.Listing = QString::fromLocal8Bit(listing);
    if (const char* deviceDir = std::getenv("ZORBEL_PORT_DEVICE_DIR"))
        source.DeviceDir = QString::fromLocal8Bit(deviceDir);
    return source;
}

// The processes come from the system, or from another table when the
// environment names one (ZORBEL_PROCESS_DIR).
TSurveyOptions SurveyOptions(bool all)
{
    TSurveyOptions options;
    options.All = all;
    if (const char* processDir = std::getenv("ZORBEL_PROCESS_DIR"))
        options.ProcessDir = processDir;
    return options;
}

std::string Utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

// One line a port: its name, what it is, then what identifies it.
int ListPorts()
{
    QList<TPortDetails> ports;
    GetComPortDetails(ports, PortSource());
    for (const TPortDetails& port : std::as_const(ports)) {
        QStringList facts;
        if (port.VendorId >= 0 && port.ProductId >= 0)
            facts << QString::asprintf("USB %04x:%04x", port.VendorId, port.ProductId);
        if (!port.SerialNumber.isEmpty())
            facts << "serial " + port.SerialNumber;
        if (!port.Location.isEmpty())
            facts << "at " + port.Location;
        if (!port.Driver.isEmpty())
            facts << "driver " + port.Driver;
        QString line = port.Name + ":";
        const QString text = PortDetailsText(port);
        if (!text.isEmpty())
            line += " " + text;
        if (!facts.isEmpty())
            line += " (" + facts.join(", ") + ")";
        std::printf("%s\n", Utf8(line).c_str());
    }
    return 0;
}

// "picocom (pid 1234)", several joined by "and".
std::string UsersText(const std::vector<Platform::TDeviceUser>& users)
{
    std::string text;
    for (std::size_t i = 0; i < users.size(); ++i) {
        if (i > 0)
            text += i + 1 == users.size() ? " and " : ", ";
        const std::string& program = users[i].Program;
        text += (program.empty() ? "a program" : program) + " (pid " + std::to_string(users[i].Pid) + ")";
    }
    return text;
}

int FindBoard(const std::vector<std::int32_t>& speeds, bool all)
{
    QList<TPortDetails> ports;
    GetComPortDetails(ports, PortSource());
    bool found = false;
    bool probedUnseen = false;
    for (const TPortSurvey& survey : SurveyPorts(ports, speeds, SurveyOptions(all))) {
        const std::string port = Utf8(survey.Port);
        switch (survey.Outcome) {
        case TSurveyOutcome::InSync:
            found = true;
            std::printf("%s: %d: in sync\n", port.c_str(), survey.Speed);
            break;
        case TSurveyOutcome::NoAnswer: std::printf("%s: no answer\n", port.c_str()); break;
        case TSurveyOutcome::Busy:
            if (survey.Users.empty())
                std::printf("%s: busy, left alone\n", port.c_str());
            else
                std::printf("%s: busy, in use by %s, left alone\n", port.c_str(), UsersText(survey.Users).c_str());
            break;
        case TSurveyOutcome::NotUsb:
            std::printf("%s: not probed, no USB device behind it (--all probes it)\n", port.c_str());
            break;
        case TSurveyOutcome::Failed:
            std::fprintf(stderr, "zorbel-probe: %s: %s\n", port.c_str(), Utf8(survey.Error).c_str());
            break;
        }
        const bool probed = survey.Outcome == TSurveyOutcome::InSync || survey.Outcome == TSurveyOutcome::NoAnswer;
        probedUnseen = probedUnseen || (probed && !survey.UsersAllSeen);
    }
    // Said once, not a port at a time: for a user other than root it holds
    // for every port probed.
    if (probedUnseen)
        std::fputs("zorbel-probe: the programs of other users cannot be seen: a port one of them has open\n"
                   "without locking it was probed all the same (run as root to see every program)\n",
                   stderr);
    if (!found)
        std::fputs("zorbel-probe: no boot loader answered on any port\n", stderr);
    return found ? 0 : 1;
}

int ProbeOnePort(const char* name, const std::vector<std::int32_t>& speeds)
{
    TCustomComPort port;
    port.SetPortName(QString::fromLocal8Bit(name));
    bool inSync = false;
    for (const std::int32_t speed : speeds) {
        try {
            const TProbeResult result = ProbeBootLoader(port, speed);
            inSync = inSync || result == TProbeResult::InSync;
            std::printf("%d: %s\n", speed, result == TProbeResult::InSync ? "in sync" : "no answer");
            std::fflush(stdout);
        } catch (const EComPort& e) {
            const std::string system = e.WinCode() > 0 ? ": " + port.CommLayer().ErrorText(e.WinCode()) : "";
            std::fprintf(stderr, "zorbel-probe: %s: %s%s\n", name, e.what(), system.c_str());
            return 2;
        }
    }
    return inSync ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    InitPortErrorMessages();
    if (argc < 2)
        return Usage();
    if (std::strcmp(argv[1], "--list") == 0)
        return argc == 2 ? ListPorts() : Usage();
    std::vector<std::int32_t> speeds;
    const bool find = std::strcmp(argv[1], "--find") == 0;
    const bool all = find && argc > 2 && std::strcmp(argv[2], "--all") == 0;
    if (!find && argv[1][0] == '-' && argv[1][1] != '\0') {
        std::fprintf(stderr, "zorbel-probe: unknown option: %s\n", argv[1]);
        return Usage();
    }
    if (!ParseSpeeds(argc, argv, all ? 3 : 2, speeds))
        return Usage();
    return find ? FindBoard(speeds, all) : ProbeOnePort(argv[1], speeds);
}
