#include "FlashCommand.h"

QString FirmwareImageForSpeed(const QString& speedText)
{
    QString image;
    if (speedText == QLatin1String("28800"))
        image = QStringLiteral("datalogger_old.hex");
    if (speedText == QLatin1String("57600"))
        image = QStringLiteral("datalogger_new.hex");
    return image;
}

QString FlashParameterLine(const QString& portText, const QString& speedText)
{
    return QStringLiteral(" -c arduino -p m328p -P ") + portText + QStringLiteral(" -b ") + speedText +
           QStringLiteral(" -U flash:w:") + FirmwareImageForSpeed(speedText) + QStringLiteral(":i");
}
