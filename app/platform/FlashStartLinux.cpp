#include "FlashStart.h"

#include "ProcessStarter.h"

#include <cstdlib>

namespace Platform {

const char* const FlasherFileName = "avrdude";

namespace {

// The terminal Debian's desktops provide under one name.
const char* const TerminalProgram = "x-terminal-emulator";

std::string ProgramSearchPath()
{
    // The program search of the shell: the directories of PATH.
    const char* path = std::getenv("PATH");
    return path ? path : "/usr/local/bin:/usr/bin:/bin";
}

} // namespace

std::string FindOnProgramSearch(const std::string& program, TSystemError& error)
{
    int searchError = 0;
    std::string found = FindProgram(program, ProgramSearchPath(), searchError);
    error = found.empty() ? static_cast<TSystemError>(searchError) : 0;
    return found;
}

TSystemError StartFlasher(const std::string& runner, const std::string& flasher,
                          const std::vector<std::string>& arguments, bool inWindow)
{
    TSystemError error = 0;
    const std::string flasherPath = FindOnProgramSearch(flasher, error);
    if (flasherPath.empty())
        return error;
    if (inWindow) {
        TSystemError terminalError = 0;
        const std::string terminal = FindOnProgramSearch(TerminalProgram, terminalError);
        if (!terminal.empty()) {
            // Each piece is an argument of its own after -e, as Debian's
            // terminals take a command.
            std::vector<std::string> terminalArguments = {"-e"};
            if (!runner.empty())
                terminalArguments.push_back(runner);
            terminalArguments.push_back(flasherPath);
            terminalArguments.insert(terminalArguments.end(), arguments.begin(), arguments.end());
            return static_cast<TSystemError>(StartDetached(terminal, TerminalProgram, terminalArguments));
        }
    }
    return static_cast<TSystemError>(StartDetached(flasherPath, flasher, arguments));
}

} // namespace Platform
