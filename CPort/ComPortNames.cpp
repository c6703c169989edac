#include "ComPortNames.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

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
    std::optional<QStringList> names = ListSerialDevices(Source);
    if (!names)
        return;
    SortPortNames(*names);
    Ports = std::move(*names);
}
