#include "MonitorOptions.h"

#include <QObject>

QString MonitorUsage()
{
    return QStringLiteral(
        "Usage: zorbel-monitor [--port NAME] [--speed N] [--log FILE] [--hex] [--timestamps]\n"
        "                      [--no-reset] [--flash 57600|28800]\n"
        "  --port NAME       the serial port (a name such as ttyUSB0, or a path)\n"
        "  --speed N         the line speed in baud\n"
        "  --log FILE        append every received line, with its time, to FILE\n"
        "  --hex             show the hex view\n"
        "  --timestamps      show each line's time\n"
        "  --no-reset        open without resetting the board (DTR and RTS kept low)\n"
        "  --flash SPEED     update the firmware once the port is open, then go on\n"
        "                    monitoring (57600: datalogger_new.hex, 28800: datalogger_old.hex)\n");
}

bool ParseMonitorOptions(const QStringList& arguments, TMonitorOptions& options, QString* error)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == QLatin1String("--hex")) {
            options.Hex = true;
            continue;
        }
        if (option == QLatin1String("--timestamps")) {
            options.Timestamps = true;
            continue;
        }
        if (option == QLatin1String("--no-reset")) {
            options.NoReset = true;
            continue;
        }
        if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            options.Help = true;
            continue;
        }
        const bool takesValue = option == QLatin1String("--port") || option == QLatin1String("--speed") ||
                                option == QLatin1String("--log") || option == QLatin1String("--flash");
        if (!takesValue) {
            *error = QObject::tr("unknown option %1").arg(option);
            return false;
        }
        if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
            *error = QObject::tr("%1 needs a value").arg(option);
            return false;
        }
        const QString value = arguments[++i];
        if (option == QLatin1String("--port")) {
            options.Port = value;
        } else if (option == QLatin1String("--log")) {
            options.LogFile = value;
        } else if (option == QLatin1String("--speed")) {
            bool number = false;
            options.Speed = value.toInt(&number);
            if (!number || options.Speed <= 0) {
                *error = QObject::tr("--speed needs a speed in baud, not %1").arg(value);
                return false;
            }
        } else {
            if (value != QLatin1String("57600") && value != QLatin1String("28800")) {
                *error = QObject::tr("--flash takes 57600 or 28800, not %1").arg(value);
                return false;
            }
            options.Flash = value;
        }
    }
    return true;
}
