#include "FlashLauncher.h"

#include "CommandLine.h"
#include "ProcessStarter.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

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

std::string FindReportHelper(const QString& applicationDir)
{
    // Beside the tool in a build tree, in the library-executables directory
    // once installed.
    const QStringList candidates = {applicationDir + QStringLiteral("/zorbel-flash-run"),
                                    applicationDir + QStringLiteral("/" ZORBEL_REPORT_HELPER_FROM_BIN)};
    for (const QString& candidate : candidates) {
        const QFileInfo file(candidate);
        if (file.isFile() && file.isExecutable())
            return QFile::encodeName(file.absoluteFilePath()).toStdString();
    }
    return {};
}

int StartFlasher(const QString& parameterLine, bool inTerminal, const std::string& reportHelper)
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
            // Each piece is an argument of its own after -e, as Debian's
            // terminals take a command.
            std::vector<std::string> terminalArguments = {"-e"};
            if (!reportHelper.empty())
                terminalArguments.push_back(reportHelper);
            terminalArguments.push_back(flasher);
            terminalArguments.insert(terminalArguments.end(), arguments.begin(), arguments.end());
            return StartDetached(terminal, TerminalProgram, terminalArguments);
        }
    }
    return StartDetached(flasher, FlasherProgram, arguments);
}
