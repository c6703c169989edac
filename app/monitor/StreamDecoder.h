#pragma once

// Turns the bytes a board sends into lines of text. UTF-8 is shown as it
// stands; every byte that is not part of valid text (a broken sequence, a
// control character) is shown as an escape, \xNN, so that no byte is ever
// dropped from the text. A line ends at LF, CR or CR LF.

#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>

struct TStreamLine {
    // When the line's first byte came.
    QDateTime Time;
    QString Text;
};

class TStreamDecoder {
public:
    // A board that never ends its line must not grow one without bound:
    // longer lines are broken there.
    static constexpr qsizetype MaxLineLength = 1024;

    // The bytes received at time; a sequence cut at the end is completed by
    // the next bytes.
    void Feed(QByteArrayView bytes, const QDateTime& time);
    // The lines ended since the last call, oldest first.
    QList<TStreamLine> TakeLines();
    // The line begun and not ended yet; empty text when there is none.
    const TStreamLine& OpenLine() const { return open_; }
    // Ends the open line (the line went quiet for good: the port closed),
    // bytes of a cut sequence shown as escapes. False when there was none.
    bool EndOpenLine();

private:
    void Byte(unsigned char byte, const QDateTime& time);
    void Append(const QString& text, const QDateTime& time);
    void AppendEscape(unsigned char byte, const QDateTime& time);
    void EndLine(const QDateTime& time);
    // The bytes of the sequence begun are shown as escapes but its first,
    // whose following bytes are looked at again.
    void FailSequence(const QDateTime& time);

    QList<TStreamLine> lines_;
    TStreamLine open_;
    bool lineBegun_ = false;
    // A CR ended the last line: an LF right after it belongs to it.
    bool afterCR_ = false;
    // The bytes of a multi-byte sequence read so far, and how many it has.
    QByteArray sequence_;
    int sequenceLength_ = 0;
};

// The escape that stands for one byte: \xNN, upper-case digits.
QString ByteEscape(unsigned char byte);

// A line's time as the views and the log show it: the date and the time to
// the millisecond, local time.
QString LineTimestamp(const QDateTime& time);
