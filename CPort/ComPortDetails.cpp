#include "ComPortDetails.h"

#include "platform/PortDetails.h"

#include <algorithm>

namespace {

TPortDetails FromPlatform(const Platform::TPortDetails& port)
{
    TPortDetails details;
    details.Name = QString::fromStdString(port.Name);
    details.Description = QString::fromStdString(port.Description);
    details.Manufacturer = QString::fromStdString(port.Manufacturer);
    details.SerialNumber = QString::fromStdString(port.SerialNumber);
    details.VendorId = port.VendorId;
    details.ProductId = port.ProductId;
    details.Location = QString::fromStdString(port.Location);
    details.Driver = QString::fromStdString(port.Driver);
    return details;
}

} // namespace

void GetComPortDetails(QList<TPortDetails>& Ports)
{
    GetComPortDetails(Ports, DefaultPortSource());
}

// The names are put in order by the same function as the bare list, and
// the details follow their names: equal names keep the platform's order in
// both, so the two lists always agree.
void GetComPortDetails(QList<TPortDetails>& Ports, const TPortSource& Source)
{
    const std::optional<std::vector<Platform::TPortDetails>> found =
        Platform::ListSerialDetails({Source.Listing.toStdString(), Source.DeviceDir.toStdString()});
    if (!found)
        return;
    QStringList names;
    QList<TPortDetails> unsorted;
    for (const Platform::TPortDetails& port : *found) {
        unsorted.append(FromPlatform(port));
        names.append(unsorted.back().Name);
    }
    SortPortNames(names);
    QList<TPortDetails> ports;
    QList<bool> taken(unsorted.size(), false);
    for (const QString& name : names) {
        for (qsizetype i = 0; i < unsorted.size(); ++i) {
            if (!taken[i] && unsorted[i].Name == name) {
                taken[i] = true;
                ports.append(unsorted[i]);
                break;
            }
        }
    }
    Ports = std::move(ports);
}

namespace {

// What a port whose device gave no description is shown as, from what was
// read of it: only a port known to be USB (its ids) is called a USB one,
// and only one with neither ids nor a place on a bus a built-in one. A
// USB port whose ids were unreadable too gets no label rather than a wrong
// one.
QString FallbackLabel(const TPortDetails& Port)
{
    if (Port.Driver == QLatin1String("rfcomm"))
        return QStringLiteral("Bluetooth link");
    if (Port.VendorId >= 0)
        return QStringLiteral("USB serial port");
    if (!Port.Driver.isEmpty() && Port.Location.isEmpty())
        return QStringLiteral("Built-in serial port");
    return {};
}

} // namespace

QString PortDetailsText(const TPortDetails& Port)
{
    const QString description = Port.Description.isEmpty() ? FallbackLabel(Port) : Port.Description;
    if (Port.Manufacturer.isEmpty() || description.contains(Port.Manufacturer, Qt::CaseInsensitive))
        return description;
    if (description.isEmpty())
        return Port.Manufacturer;
    return description + QStringLiteral(" \u2014 ") + Port.Manufacturer;
}
