#include "FlashCommand.h"

#include "FlashParameters.h"

QString FirmwareImageForSpeed(const QString& speedText)
{
    return QString::fromStdString(Platform::FirmwareImageForSpeed(speedText.toStdString()));
}

QString FlashParameterLine(const QString& portText, const QString& speedText)
{
    return QString::fromStdString(Platform::FlashParameterLine(portText.toStdString(), speedText.toStdString()));
}
