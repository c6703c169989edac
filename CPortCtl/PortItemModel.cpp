#include "PortItemModel.h"

void TPortItemModel::SetDetails(QHash<QString, QString> details)
{
    details_ = std::move(details);
}

QVariant TPortItemModel::data(const QModelIndex& index, int role) const
{
    if (role != PortDetailsRole)
        return QStringListModel::data(index, role);
    const QString text = details_.value(QStringListModel::data(index, Qt::DisplayRole).toString());
    return text.isEmpty() ? QVariant() : QVariant(text);
}
