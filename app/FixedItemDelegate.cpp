#include "FixedItemDelegate.h"

#include "PortItemDelegate.h"

#include <QPainter>

TFixedItemDelegate::TFixedItemDelegate(int itemHeight, int textIndent, QObject* parent)
    : QStyledItemDelegate(parent), itemHeight_(itemHeight), textIndent_(textIndent)
{
}

QSize TFixedItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int width = QStyledItemDelegate::sizeHint(option, index).width() + PortDetailsWidth(option, index);
    return QSize(width, itemHeight_);
}

void TFixedItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    painter->save();
    painter->fillRect(option.rect, selected ? palette.highlight() : palette.base());
    painter->setPen(selected ? palette.highlightedText().color() : palette.text().color());
    painter->setFont(option.font);
    const QRect textRect = option.rect.adjusted(textIndent_, 0, 0, 0);
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, index.data(Qt::DisplayRole).toString());
    painter->restore();
    // A port's entry: what is behind the port, after its name.
    DrawPortDetails(painter, option, index, textRect);
}
