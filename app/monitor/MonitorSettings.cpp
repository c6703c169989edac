#include "MonitorSettings.h"

#include "ComPort.h"
#include "IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString Section = QStringLiteral("Monitor");

} // namespace

QString MonitorSettingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/zorbel-monitor/zorbel-monitor.ini");
}

void LoadMonitorSettings(TCustomComPort& port, TMonitorChoices& choices)
{
    IniFile ini(MonitorSettingsFile());
    port.LoadIniFile(ini);
    choices.Timestamps = ini.ReadInteger(Section, QStringLiteral("Timestamps"), choices.Timestamps) != 0;
    choices.Hex = ini.ReadInteger(Section, QStringLiteral("Hex"), choices.Hex) != 0;
    choices.NoReset = ini.ReadInteger(Section, QStringLiteral("NoReset"), choices.NoReset) != 0;
    choices.LineEnding = ini.ReadInteger(Section, QStringLiteral("LineEnding"), choices.LineEnding);
    choices.FlashSpeed = ini.ReadString(Section, QStringLiteral("FlashSpeed"), choices.FlashSpeed);
}

QString StoreMonitorSettings(TCustomComPort& port, const TMonitorChoices& choices)
{
    const QString fileName = MonitorSettingsFile();
    QDir().mkpath(QFileInfo(fileName).path());
    IniFile ini(fileName);
    try {
        port.StoreIniFile(ini);
        ini.WriteInteger(Section, QStringLiteral("Timestamps"), choices.Timestamps);
        ini.WriteInteger(Section, QStringLiteral("Hex"), choices.Hex);
        ini.WriteInteger(Section, QStringLiteral("NoReset"), choices.NoReset);
        ini.WriteInteger(Section, QStringLiteral("LineEnding"), choices.LineEnding);
        ini.WriteString(Section, QStringLiteral("FlashSpeed"), choices.FlashSpeed);
    } catch (const Exception& error) {
        return error.Message();
    }
    return ini.UpdateFile();
}
