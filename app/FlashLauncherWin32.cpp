// FLASH on Windows: the runner in a console of its own runs avrdude.exe and
// shows the outcome there. Windows always has a console to give a console
// program, so there is no terminal to choose, unlike the Linux desktop.

#include "FlashLauncher.h"

#include "CommandLine.h"
#include "FlashStart.h"

#include <QDir>
#include <QFileInfo>

const char* const FlasherProgram = Platform::FlasherFileName;

std::string FindReportHelper(const QString& applicationDir)
{
    // Installed beside the tool.
    const QFileInfo runner(applicationDir + QStringLiteral("/zorbel-flash-run.exe"));
    if (!runner.isFile())
        return {};
    return QDir::toNativeSeparators(runner.absoluteFilePath()).toStdString();
}

int StartFlasher(const QString& parameterLine, bool inTerminal, const std::string& reportHelper)
{
    const std::vector<std::string> arguments = SplitCommandLine(parameterLine.toStdString());
    return static_cast<int>(Platform::StartFlasher(reportHelper, FlasherProgram, arguments, inTerminal));
}
