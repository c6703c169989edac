#include "FlashParameters.h"

namespace Platform {

std::string FirmwareImageForSpeed(std::string_view speedText)
{
    if (speedText == "28800")
        return "datalogger_old.hex";
    if (speedText == "57600")
        return "datalogger_new.hex";
    return {};
}

std::string FlashParameterLine(std::string_view portText, std::string_view speedText)
{
    std::string line = " -c arduino -p m328p -P ";
    line += portText;
    line += " -b ";
    line += speedText;
    line += " -U flash:w:";
    line += FirmwareImageForSpeed(speedText);
    line += ":i";
    return line;
}

} // namespace Platform
