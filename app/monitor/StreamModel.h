#pragma once

// The received stream on its way to the window: decoded into lines and hex
// rows as it comes, each batch of ended lines handed to the log at once, and
// the views updated once per turn of the event loop however many reads came
// in it. What waits for the views is bounded by their scrollback: under a
// flood the lines that would scroll out unseen are not drawn at all.

#include "HexFormatter.h"
#include "StreamDecoder.h"

#include <QObject>
#include <QTimer>

#include <optional>

class TStreamModel : public QObject {
    Q_OBJECT

public:
    // The lines (and hex rows) each view keeps.
    static constexpr int ScrollbackLines = 5000;

    explicit TStreamModel(QObject* parent = nullptr);

    // Bytes read from the port at time.
    void Receive(QByteArrayView bytes, const QDateTime& time);
    // A line of the monitor's own (a lost port, a reconnect, a verdict),
    // after the board's open line is ended.
    void Note(const QString& text, const QDateTime& time);
    // Lines shown from now on carry their time.
    void SetTimestamps(bool on) { timestamps_ = on; }
    bool Timestamps() const { return timestamps_; }
    // Forgets what the views were to show, and starts the hex offsets again.
    void Clear();
    // Bytes received since the start.
    qint64 BytesReceived() const { return received_; }
    // The first board line ended since MarkFirstLine, empty until one is.
    void MarkFirstLine() { firstLine_.reset(); }
    std::optional<QString> FirstLine() const { return firstLine_; }

signals:
    // Lines ended by the board, with their times, for the log.
    void LinesEnded(const QList<TStreamLine>& lines);
    void NoteAdded(const QDateTime& time, const QString& text);
    // At most once per frame while bytes arrive: the text lines and hex rows
    // ended since the last batch and the open line and row as they stand now.
    void Batch(const QStringList& lines, const QString& openLine, const QStringList& rows, const QString& openRow);

private:
    QString Shown(const TStreamLine& line) const;
    void TakeEnded();
    void QueueFlush();
    void Flush();

    TStreamDecoder decoder_;
    THexFormatter hex_;
    bool timestamps_ = false;
    QTimer* flushTimer_;
    qint64 received_ = 0;
    QStringList pendingLines_;
    QStringList pendingRows_;
    std::optional<QString> firstLine_;
};
