#include "StreamModel.h"

namespace {

void Bound(QStringList& list)
{
    if (list.size() > TStreamModel::ScrollbackLines)
        list.remove(0, list.size() - TStreamModel::ScrollbackLines);
}

} // namespace

TStreamModel::TStreamModel(QObject* parent) : QObject(parent) {}

void TStreamModel::Receive(QByteArrayView bytes, const QDateTime& time)
{
    if (bytes.isEmpty())
        return;
    received_ += bytes.size();
    decoder_.Feed(bytes, time);
    TakeEnded();
    pendingRows_ += hex_.Feed(bytes);
    Bound(pendingRows_);
    QueueFlush();
}

void TStreamModel::Note(const QString& text, const QDateTime& time)
{
    decoder_.EndOpenLine();
    TakeEnded();
    pendingLines_.append(timestamps_ ? LineTimestamp(time) + QStringLiteral(" --- ") + text
                                     : QStringLiteral("--- ") + text);
    Bound(pendingLines_);
    emit NoteAdded(time, text);
    QueueFlush();
}

void TStreamModel::Clear()
{
    pendingLines_.clear();
    pendingRows_.clear();
    hex_.Reset();
}

QString TStreamModel::Shown(const TStreamLine& line) const
{
    if (!timestamps_)
        return line.Text;
    return LineTimestamp(line.Time) + QLatin1Char(' ') + line.Text;
}

void TStreamModel::TakeEnded()
{
    const QList<TStreamLine> lines = decoder_.TakeLines();
    if (lines.isEmpty())
        return;
    if (!firstLine_) {
        for (const TStreamLine& line : lines) {
            if (!line.Text.trimmed().isEmpty()) {
                firstLine_ = line.Text;
                break;
            }
        }
    }
    for (const TStreamLine& line : lines)
        pendingLines_.append(Shown(line));
    Bound(pendingLines_);
    emit LinesEnded(lines);
}

// Posted once however many reads come before the loop turns: the views are
// drawn once per turn, never once per read.
void TStreamModel::QueueFlush()
{
    if (flushQueued_)
        return;
    flushQueued_ = true;
    QMetaObject::invokeMethod(this, &TStreamModel::Flush, Qt::QueuedConnection);
}

void TStreamModel::Flush()
{
    flushQueued_ = false;
    const TStreamLine& open = decoder_.OpenLine();
    const QString openLine = open.Text.isEmpty() ? QString() : Shown(open);
    emit Batch(std::exchange(pendingLines_, {}), openLine, std::exchange(pendingRows_, {}), hex_.OpenRow());
}
