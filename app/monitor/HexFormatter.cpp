#include "HexFormatter.h"

QStringList THexFormatter::Feed(QByteArrayView bytes)
{
    QStringList rows;
    while (!bytes.isEmpty()) {
        const qsizetype take = std::min<qsizetype>(RowBytes - row_.size(), bytes.size());
        row_.append(bytes.first(take));
        bytes = bytes.sliced(take);
        if (row_.size() == RowBytes) {
            rows.append(Row());
            offset_ += RowBytes;
            row_.clear();
        }
    }
    return rows;
}

QString THexFormatter::OpenRow() const
{
    return row_.isEmpty() ? QString() : Row();
}

void THexFormatter::Reset()
{
    offset_ = 0;
    row_.clear();
}

// "00000010  48 65 6C 6C 6F 0D 0A ...  |Hello..|"; a short row keeps the
// text column in place.
QString THexFormatter::Row() const
{
    static const char digits[] = "0123456789ABCDEF";
    QString hex;
    QString text;
    hex.reserve(RowBytes * 3 + 1);
    for (int i = 0; i < RowBytes; ++i) {
        if (i == RowBytes / 2)
            hex += QLatin1Char(' ');
        if (i < row_.size()) {
            const auto byte = static_cast<unsigned char>(row_[i]);
            hex += QLatin1Char(digits[byte >> 4]);
            hex += QLatin1Char(digits[byte & 0x0F]);
            hex += QLatin1Char(' ');
            text += byte >= 0x20 && byte < 0x7F ? QLatin1Char(static_cast<char>(byte)) : QLatin1Char('.');
        } else {
            hex += QLatin1String("   ");
        }
    }
    const QString offset = QStringLiteral("%1").arg(offset_, 8, 16, QLatin1Char('0')).toUpper();
    return offset + QLatin1String("  ") + hex + QLatin1String(" |") + text + QLatin1Char('|');
}
