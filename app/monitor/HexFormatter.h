#pragma once

// The received bytes as a hex dump: rows of sixteen bytes, each with the
// offset of its first byte in the stream, the bytes in hex and the printable
// ones as text.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

class THexFormatter {
public:
    static constexpr int RowBytes = 16;

    // The rows these bytes complete, oldest first.
    QStringList Feed(QByteArrayView bytes);
    // The row begun and not complete yet; empty when there is none.
    QString OpenRow() const;
    // The stream starts again at offset 0 (the view was cleared).
    void Reset();

private:
    QString Row() const;

    // The offset of the open row's first byte.
    qint64 offset_ = 0;
    QByteArray row_;
};
