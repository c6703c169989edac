#include "FlashOutcome.h"

#include <cstdio>

namespace FlashOutcome {

namespace {

std::string CodeText(std::uint32_t code)
{
    if (code <= 0xFFFF)
        return std::to_string(code);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    return hex;
}

} // namespace

std::string Exited(std::uint32_t code)
{
    return (code == 0 ? "Mise à jour réussie (code de sortie " : "Échec de la mise à jour (code de sortie ") +
           CodeText(code) + "). ";
}

std::string Signalled(int signal)
{
    return "Échec de la mise à jour (arrêt par le signal " + std::to_string(signal) + "). ";
}

std::string NotStarted(const std::string& flasher, const std::string& reason)
{
    return "Échec de la mise à jour : impossible de lancer " + flasher + " (" + reason + "). ";
}

std::string NotWaited(const std::string& flasher, const std::string& reason)
{
    return "Échec de la mise à jour : impossible de connaître la fin de " + flasher + " (" + reason + "). ";
}

const char* const CloseRequest = "Appuyez sur Entrée pour fermer cette fenêtre.";
const char* const Usage = "usage: zorbel-flash-run FLASHER [ARGUMENT...]\n";

} // namespace FlashOutcome
