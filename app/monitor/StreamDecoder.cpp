#include "StreamDecoder.h"

namespace {

// The length of the sequence a lead byte opens, 0 for a byte that opens none.
int SequenceLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Whether byte may follow at position index of the sequence begun with lead:
// the ranges that keep out overlong forms, surrogates and code points past
// the last one.
bool FitsAt(unsigned char lead, int index, unsigned char byte)
{
    if (index == 1) {
        if (lead == 0xE0)
            return byte >= 0xA0 && byte <= 0xBF;
        if (lead == 0xED)
            return byte >= 0x80 && byte <= 0x9F;
        if (lead == 0xF0)
            return byte >= 0x90 && byte <= 0xBF;
        if (lead == 0xF4)
            return byte >= 0x80 && byte <= 0x8F;
    }
    return byte >= 0x80 && byte <= 0xBF;
}

// Characters shown as they are: printable ASCII and the tab.
bool Printable(unsigned char byte)
{
    return (byte >= 0x20 && byte < 0x7F) || byte == '\t';
}

} // namespace

QString ByteEscape(unsigned char byte)
{
    static const char digits[] = "0123456789ABCDEF";
    const char text[] = {'\\', 'x', digits[byte >> 4], digits[byte & 0x0F]};
    return QString::fromLatin1(text, 4);
}

void TStreamDecoder::Feed(QByteArrayView bytes, const QDateTime& time)
{
    for (const char c : bytes)
        Byte(static_cast<unsigned char>(c), time);
}

QList<TStreamLine> TStreamDecoder::TakeLines()
{
    return std::exchange(lines_, {});
}

bool TStreamDecoder::EndOpenLine()
{
    const QDateTime time = open_.Time;
    const QByteArray cut = std::exchange(sequence_, {});
    sequenceLength_ = 0;
    for (const char c : cut)
        AppendEscape(static_cast<unsigned char>(c), time);
    if (!lineBegun_)
        return false;
    EndLine(time);
    return true;
}

void TStreamDecoder::Byte(unsigned char byte, const QDateTime& time)
{
    if (sequenceLength_ > 0) {
        if (FitsAt(static_cast<unsigned char>(sequence_[0]), static_cast<int>(sequence_.size()), byte)) {
            sequence_.append(static_cast<char>(byte));
            if (sequence_.size() == sequenceLength_) {
                Append(QString::fromUtf8(sequence_), time);
                sequence_.clear();
                sequenceLength_ = 0;
            }
            return;
        }
        FailSequence(time);
    }
    const bool afterCR = std::exchange(afterCR_, false);
    if (byte == '\n') {
        if (!afterCR)
            EndLine(time);
        return;
    }
    if (byte == '\r') {
        EndLine(time);
        afterCR_ = true;
        return;
    }
    if (Printable(byte)) {
        Append(QString(QChar(byte)), time);
        return;
    }
    if (const int length = SequenceLength(byte)) {
        sequence_.append(static_cast<char>(byte));
        sequenceLength_ = length;
        return;
    }
    AppendEscape(byte, time);
}

void TStreamDecoder::FailSequence(const QDateTime& time)
{
    for (const char c : std::exchange(sequence_, {}))
        AppendEscape(static_cast<unsigned char>(c), time);
    sequenceLength_ = 0;
}

void TStreamDecoder::Append(const QString& text, const QDateTime& time)
{
    if (!lineBegun_) {
        lineBegun_ = true;
        open_.Time = time;
    }
    open_.Text += text;
    if (open_.Text.size() >= MaxLineLength)
        EndLine(time);
}

void TStreamDecoder::AppendEscape(unsigned char byte, const QDateTime& time)
{
    Append(ByteEscape(byte), time);
}

void TStreamDecoder::EndLine(const QDateTime& time)
{
    // An empty line is a line too: the board sent its ending.
    if (!lineBegun_)
        open_.Time = time;
    lines_.append(std::exchange(open_, {}));
    lineBegun_ = false;
}

QString LineTimestamp(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}
