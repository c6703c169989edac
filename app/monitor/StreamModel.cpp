#include "StreamModel.h"

namespace {

void Bound(QStringList& list)
{
    if (list.size() > TStreamModel::ScrollbackLines)
        list.remove(0, list.size() - TStreamModel::ScrollbackLines);
}

} // namespace

// A person reads no faster than a screen redraws: the views are drawn at
// most this often, however many reads come in between. Drawing them once per
// read costs a flood or a fast line more CPU than everything else together.
constexpr int FrameMs = 40;
constexpr qsizetype MaxBatchLines = 128;

TStreamModel::TStreamModel(QObject* parent) : QObject(parent), flushTimer_(new QTimer(this))
{
    flushTimer_->setSingleShot(true);
    connect(flushTimer_, &QTimer::timeout, this, &TStreamModel::Flush);
}

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

// Started by the first read after a batch, so an idle line wakes nothing. A
// flood is drawn in small batches instead, each on a turn of the loop of its
// own: one big batch would keep the window from answering while it is drawn.
void TStreamModel::QueueFlush()
{
    if (pendingLines_.size() + pendingRows_.size() >= MaxBatchLines)
        flushTimer_->start(0);
    else if (!flushTimer_->isActive())
        flushTimer_->start(FrameMs);
}

void TStreamModel::Flush()
{
    const TStreamLine& open = decoder_.OpenLine();
    const QString openLine = open.Text.isEmpty() ? QString() : Shown(open);
    emit Batch(std::exchange(pendingLines_, {}), openLine, std::exchange(pendingRows_, {}), hex_.OpenRow());
}
