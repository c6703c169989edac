// FLASH on Linux: the desktop's terminal runs the runner, which runs
// avrdude and keeps the window open on its outcome.

#include "FlashLauncher.h"

#include "CommandLine.h"
#include "FlashStart.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

const char* const FlasherProgram = Platform::FlasherFileName;

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
    // The arguments in the encoding of file names, as the flasher takes them.
    const std::vector<std::string> arguments = SplitCommandLine(parameterLine.toLocal8Bit().toStdString());
    return static_cast<int>(Platform::StartFlasher(reportHelper, FlasherProgram, arguments, inTerminal));
}
