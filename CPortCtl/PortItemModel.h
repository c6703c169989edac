#pragma once

// The selector's item list: the entries' texts as a string list, and for
// ports, what is behind each one under a role of its own, so that the
// entry's text (what Text returns and the port is set to) stays the name.

#include <QHash>
#include <QStringListModel>

// The port's description and maker, shown after its name.
inline constexpr int PortDetailsRole = Qt::UserRole + 1;

class TPortItemModel : public QStringListModel {
    Q_OBJECT

public:
    using QStringListModel::QStringListModel;

    // The text for each name; names without one show none. Takes effect
    // for the entries listed from now on.
    void SetDetails(QHash<QString, QString> details);

    QVariant data(const QModelIndex& index, int role) const override;

private:
    QHash<QString, QString> details_;
};
