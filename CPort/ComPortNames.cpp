#include "ComPortNames.h"

#include "platform/PortEnum.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

TPortSource::TPortSource()
{
    const Platform::TPortSource machine = Platform::MachinePortSource();
    Listing = QString::fromStdString(machine.Listing);
    DeviceDir = QString::fromStdString(machine.DeviceDir);
}

TPortSource::TPortSource(QString listing, QString deviceDir)
    : Listing(std::move(listing)), DeviceDir(std::move(deviceDir))
{
}

void SortPortNames(QStringList& names)
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    std::stable_sort(names.begin(), names.end(),
                     [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
}

namespace {
TPortSource& CurrentDefaultSource()
{
    static TPortSource source;
    return source;
}
} // namespace

TPortSource DefaultPortSource()
{
    return CurrentDefaultSource();
}

void SetDefaultPortSource(const TPortSource& Source)
{
    CurrentDefaultSource() = Source;
}

void GetComPortNames(QStringList& Ports)
{
    GetComPortNames(Ports, CurrentDefaultSource());
}

void GetComPortNames(QStringList& Ports, const TPortSource& Source)
{
    const std::optional<std::vector<std::string>> devices =
        Platform::ListSerialDevices({Source.Listing.toStdString(), Source.DeviceDir.toStdString()});
    if (!devices)
        return;
    QStringList names;
    names.reserve(static_cast<qsizetype>(devices->size()));
    for (const std::string& device : *devices)
        names.append(QString::fromStdString(device));
    SortPortNames(names);
    Ports = std::move(names);
}
