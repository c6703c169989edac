#include "PortItemDelegate.h"

#include "PortItemModel.h"

#include <QApplication>
#include <QPainter>

namespace {

// The space between the name and its details, in widths of a space.
constexpr int GapSpaces = 3;

QString DetailsOf(const QModelIndex& index)
{
    return index.data(PortDetailsRole).toString();
}

// Halfway between the text and its background: there, but behind the name.
QColor LighterText(const QStyleOptionViewItem& option)
{
    const bool selected = option.state & QStyle::State_Selected;
    const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor base = option.palette.color(selected ? QPalette::Highlight : QPalette::Base);
    return QColor((text.red() + base.red()) / 2, (text.green() + base.green()) / 2, (text.blue() + base.blue()) / 2);
}

} // namespace

void DrawPortDetails(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                     const QRect& textRect)
{
    const QString details = DetailsOf(index);
    if (details.isEmpty())
        return;
    const QFontMetrics metrics(option.font);
    const QString name = index.data(Qt::DisplayRole).toString();
    const int left = metrics.horizontalAdvance(name) + GapSpaces * metrics.horizontalAdvance(QLatin1Char(' '));
    const QRect rect = textRect.adjusted(left, 0, 0, 0);
    if (rect.width() <= 0)
        return;
    painter->save();
    painter->setFont(option.font);
    painter->setPen(LighterText(option));
    painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(details, Qt::ElideRight, rect.width()));
    painter->restore();
}

int PortDetailsWidth(const QStyleOptionViewItem& option, const QModelIndex& index)
{
    const QString details = DetailsOf(index);
    if (details.isEmpty())
        return 0;
    const QFontMetrics metrics(option.font);
    return GapSpaces * metrics.horizontalAdvance(QLatin1Char(' ')) + metrics.horizontalAdvance(details);
}

QSize TPortItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += PortDetailsWidth(option, index);
    return size;
}

// The style draws the entry as ever, the name included; the details go
// where the style put the text, after the name.
void TPortItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QStyle* style = item.widget ? item.widget->style() : QApplication::style();
    // The style's text rectangle is as wide as the name; the details take
    // the rest of the entry.
    const QRect nameRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, item.widget) + 1;
    const QRect textRect(nameRect.left() + margin, item.rect.top(), item.rect.right() - nameRect.left() - 2 * margin,
                         item.rect.height());
    DrawPortDetails(painter, item, index, textRect);
}
