#include "PortItemModel.h"

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
    QList<TPortDetails> listed;
    for (int row = 0; row < rowCount(); ++row)
        listed.append(PortAt(row));
    return static_cast<int>(FindSameDevice(listed, port));
}
