#pragma once

// Draws a port's entry as its name and, after it in a lighter text, what is
// behind the port (/dev/ttyUSB0   FT232R USB UART — FTDI).

#include <QStyledItemDelegate>

// Draws the entry's details (PortDetailsRole) right of its name, which is
// drawn from the left of textRect. For delegates that draw the name
// themselves.
void DrawPortDetails(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                     const QRect& textRect);
// The width the details add to an entry's width, 0 without any.
int PortDetailsWidth(const QStyleOptionViewItem& option, const QModelIndex& index);

class TPortItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
