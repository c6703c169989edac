#include "FlashLauncher.h"

#include "CommandLine.h"
#include "ProcessStarter.h"

#include <cstdlib>

const char* const FlasherProgram = "avrdude";

namespace {
const char* const TerminalProgram = "x-terminal-emulator";

std::string ProgramSearchPath()
{
    // The program search of the shell: the directories of PATH.
    const char* path = std::getenv("PATH");
    return path ? path : "/usr/local/bin:/usr/bin:/bin";
}
} // namespace

int StartFlasher(const QString& parameterLine, bool inTerminal)
{
    const std::string searchPath = ProgramSearchPath();
    int error = 0;
    const std::string flasher = FindProgram(FlasherProgram, searchPath, error);
    if (flasher.empty())
        return error;
    const std::vector<std::string> arguments = SplitCommandLine(parameterLine.toLocal8Bit().toStdString());

    if (inTerminal) {
        int terminalError = 0;
        const std::string terminal = FindProgram(TerminalProgram, searchPath, terminalError);
        if (!terminal.empty()) {
            std::vector<std::string> terminalArguments = {"-e", flasher};
            terminalArguments.insert(terminalArguments.end(), arguments.begin(), arguments.end());
            return StartDetached(terminal, TerminalProgram, terminalArguments);
        }
    }
    return StartDetached(flasher, FlasherProgram, arguments);
}
