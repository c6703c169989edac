#pragma once

// The selector's item list: the entries' texts as a string list, and for
// ports, what is behind each one under a role of its own, so that the
// entry's text (what Text returns and the port is set to) stays the name.

#include "ComPortDetails.h"

#include <QHash>
#include <QStringListModel>

// The port's description and maker, shown after its name.
inline constexpr int PortDetailsRole = Qt::UserRole + 1;

class TPortItemModel : public QStringListModel {
    Q_OBJECT

public:
    using QStringListModel::QStringListModel;

    // What is behind each port, by name. Takes effect for the entries
    // listed from now on; names without details show none.
    void SetPorts(const QList<TPortDetails>& ports);
    // What is behind the entry at row; a bare name when nothing is known.
    TPortDetails PortAt(int row) const;
    // The row of the entry with the same device behind it as port, or -1.
    // A serial number known on both sides decides, else a USB location
    // known on both sides, else the name; a device listed twice (one
    // adapter with two ports) is told apart by its name, and without it
    // none is taken.
    int RowOfPort(const TPortDetails& port) const;

    QVariant data(const QModelIndex& index, int role) const override;

private:
    QHash<QString, TPortDetails> ports_;
};
