#pragma once

#include <QStyledItemDelegate>

// Draws list entries of one fixed height, the background filled and the text
// a few pixels from the left edge.
class TFixedItemDelegate : public QStyledItemDelegate {
public:
    TFixedItemDelegate(int itemHeight, int textIndent, QObject* parent);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    int itemHeight_;
    int textIndent_;
};
