#include "PortItemModel.h"

namespace {

// An id unknown on either side tells nothing.
bool SameNumber(int a, int b)
{
    return a < 0 || b < 0 || a == b;
}

// A board that resets or is plugged in again may come back under another
// name, while a different board may take the old one: what is behind the
// name tells them apart where it is known.
bool SameDevice(const TPortDetails& wanted, const TPortDetails& port)
{
    if (!wanted.SerialNumber.isEmpty() && !port.SerialNumber.isEmpty())
        return wanted.SerialNumber == port.SerialNumber && SameNumber(wanted.VendorId, port.VendorId) &&
               SameNumber(wanted.ProductId, port.ProductId);
    if (!wanted.Location.isEmpty() && !port.Location.isEmpty())
        return wanted.Location == port.Location;
    return wanted.Name.compare(port.Name, Qt::CaseInsensitive) == 0;
}

} // namespace

void TPortItemModel::SetPorts(const QList<TPortDetails>& ports)
{
    ports_.clear();
    for (const TPortDetails& port : ports)
        ports_.insert(port.Name, port);
}

TPortDetails TPortItemModel::PortAt(int row) const
{
    const QString name = QStringListModel::data(index(row, 0), Qt::DisplayRole).toString();
    TPortDetails port = ports_.value(name);
    port.Name = name;
    return port;
}

QVariant TPortItemModel::data(const QModelIndex& index, int role) const
{
    if (role != PortDetailsRole)
        return QStringListModel::data(index, role);
    const auto port = ports_.constFind(QStringListModel::data(index, Qt::DisplayRole).toString());
    if (port == ports_.cend())
        return {};
    const QString text = PortDetailsText(*port);
    return text.isEmpty() ? QVariant() : QVariant(text);
}

int TPortItemModel::RowOfPort(const TPortDetails& port) const
{
    int found = -1;
    int matches = 0;
    for (int row = 0; row < rowCount(); ++row) {
        const TPortDetails listed = PortAt(row);
        if (!SameDevice(port, listed))
            continue;
        if (listed.Name.compare(port.Name, Qt::CaseInsensitive) == 0)
            return row;
        found = row;
        ++matches;
    }
    return matches == 1 ? found : -1;
}
