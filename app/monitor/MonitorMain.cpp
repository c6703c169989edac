#include "ComCtlLibrary.h"
#include "ComErrors.h"
#include "MonitorOptions.h"
#include "MonitorWindow.h"
#include "TApplication.h"

#include <QIcon>

#include <cstdio>

int main(int argc, char* argv[])
{
    TMonitorOptions options;
    {
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        QString error;
        if (!ParseMonitorOptions(arguments, options, &error)) {
            std::fprintf(stderr, "zorbel-monitor: %s\n%s", qPrintable(error), qPrintable(MonitorUsage()));
            return 2;
        }
        if (options.Help) {
            std::fputs(qPrintable(MonitorUsage()), stdout);
            return 0;
        }
    }
    InitPortErrorMessages();
    InitComCtlLibrary();
    int result = 0;
    {
        TApplication application(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("zorbel-monitor"));
        application.setWindowIcon(QIcon(QStringLiteral(":/monitor/zorbel-monitor.xpm")));
        TMonitorWindow window(options);
        window.show();
        result = application.exec();
    }
    DoneComCtlLibrary();
    return result;
}
