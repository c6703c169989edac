#include "StreamView.h"

#include "HexFormatter.h"
#include "StreamModel.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBlock>

namespace {

QPlainTextEdit* NewView(const QString& name, QWidget* parent)
{
    auto* view = new QPlainTextEdit(parent);
    view->setObjectName(name);
    view->setReadOnly(true);
    view->setUndoRedoEnabled(false);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The scrollback: the oldest lines go as new ones come.
    view->setMaximumBlockCount(TStreamModel::ScrollbackLines);
    return view;
}

// The document's last block is always the open line (empty when none): it
// is replaced by the ended lines and the new open line, in one edit.
void AppendTail(QPlainTextEdit* view, const QStringList& ended, const QString& open)
{
    QScrollBar* bar = view->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor cursor(view->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    QString text;
    for (const QString& line : ended) {
        text += line;
        text += QLatin1Char('\n');
    }
    text += open;
    cursor.insertText(text);
    cursor.endEditBlock();
    if (following)
        bar->setValue(bar->maximum());
}

// A full hex row with room for the view's frame, margins and scroll bar: the
// hex view is never narrower, so its rows are never cut.
int FullRowWidth(const QPlainTextEdit* view)
{
    const QString row = THexFormatter().Feed(QByteArray(THexFormatter::RowBytes, 'W')).constFirst();
    const QFontMetrics metrics(view->font());
    const int margins = 2 * (static_cast<int>(view->document()->documentMargin()) + view->frameWidth());
    // One character more for the cursor and rounding.
    return metrics.horizontalAdvance(row + QLatin1Char(' ')) + margins + view->verticalScrollBar()->sizeHint().width();
}

// The view's text without the open last line's empty block.
QString AllText(const QPlainTextEdit* view)
{
    QString text = view->toPlainText();
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    return text;
}

} // namespace

TStreamView::TStreamView(QWidget* parent) : QWidget(parent)
{
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    text_ = NewView(QStringLiteral("textView"), splitter);
    hex_ = NewView(QStringLiteral("hexView"), splitter);
    splitter->addWidget(text_);
    splitter->addWidget(hex_);
    // The hex view as wide as its rows, the text view the rest.
    hex_->setMinimumWidth(FullRowWidth(hex_));
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);
    hex_->hide();
}

void TStreamView::ShowBatch(const QStringList& lines, const QString& openLine, const QStringList& rows,
                            const QString& openRow)
{
    AppendTail(text_, lines, openLine);
    AppendTail(hex_, rows, openRow);
}

void TStreamView::SetHexVisible(bool visible)
{
    hex_->setVisible(visible);
}

bool TStreamView::HexVisible() const
{
    return !hex_->isHidden();
}

void TStreamView::Clear()
{
    text_->clear();
    hex_->clear();
}

QString TStreamView::Text() const
{
    return AllText(text_);
}

QString TStreamView::Hex() const
{
    return AllText(hex_);
}

void TStreamView::CopyAll() const
{
    QGuiApplication::clipboard()->setText(Text());
}

QString TStreamView::SaveAll(const QString& fileName) const
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(Text().toUtf8());
    if (!file.commit())
        return file.errorString();
    return {};
}
