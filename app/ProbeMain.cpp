// zorbel-probe PORT [SPEED...]: tells which speed the board's boot loader
// listens at (57600 for the new firmware, 28800 for the old), before FLASH.
// Exit status: 0 when a speed answered in sync, 1 when none did, 2 when the
// port failed or the command line is wrong.

#include "BootLoaderProbe.h"
#include "ComErrors.h"
#include "ComPort.h"

#include <cstdio>
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
               "Resets the board on PORT and asks its boot loader for sync at each SPEED\n"
               "(default: 57600, then 28800).\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    InitPortErrorMessages();
    if (argc < 2)
        return Usage();
    std::vector<std::int32_t> speeds;
    for (int i = 2; i < argc; ++i) {
        std::int32_t speed = 0;
        if (!ParseSpeed(argv[i], speed)) {
            std::fprintf(stderr, "zorbel-probe: not a speed: %s\n", argv[i]);
            return Usage();
        }
        speeds.push_back(speed);
    }
    if (speeds.empty())
        speeds.assign(std::begin(DefaultSpeeds), std::end(DefaultSpeeds));

    TCustomComPort port;
    port.SetPortName(QString::fromLocal8Bit(argv[1]));
    bool inSync = false;
    for (const std::int32_t speed : speeds) {
        try {
            const TProbeResult result = ProbeBootLoader(port, speed);
            inSync = inSync || result == TProbeResult::InSync;
            std::printf("%d: %s\n", speed, result == TProbeResult::InSync ? "in sync" : "no answer");
            std::fflush(stdout);
        } catch (const EComPort& e) {
            const std::string system = e.WinCode() > 0 ? ": " + port.CommLayer().ErrorText(e.WinCode()) : "";
            std::fprintf(stderr, "zorbel-probe: %s: %s%s\n", argv[1], e.what(), system.c_str());
            return 2;
        }
    }
    return inSync ? 0 : 1;
}
