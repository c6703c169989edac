#include "Sender.h"

#include "ComPort.h"

#include <QFile>

namespace {

// One piece a turn of the event loop: a few milliseconds of the line at the
// usual speeds, so a file never holds the window up.
constexpr qint64 PieceSize = 256;

int HexDigit(QChar c)
{
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        return c.unicode() - '0';
    const QChar lower = c.toLower();
    if (lower >= QLatin1Char('a') && lower <= QLatin1Char('f'))
        return lower.unicode() - 'a' + 10;
    return -1;
}

} // namespace

QByteArray WithLineEnding(const QString& text, TLineEnding ending)
{
    QByteArray bytes = text.toUtf8();
    switch (ending) {
    case leNone: break;
    case leLF: bytes += '\n'; break;
    case leCR: bytes += '\r'; break;
    case leCRLF: bytes += "\r\n"; break;
    }
    return bytes;
}

std::optional<QByteArray> ParseHexBytes(const QString& text, QString* error)
{
    QByteArray bytes;
    int high = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const bool separator = c.isSpace() || c == QLatin1Char(',');
        const bool prefix = high < 0 && c == QLatin1Char('0') && i + 1 < text.size() &&
                            text[i + 1].toLower() == QLatin1Char('x');
        if (separator || prefix) {
            if (high >= 0) {
                *error = QObject::tr("an odd hex digit before position %1").arg(i + 1);
                return std::nullopt;
            }
            i += prefix ? 1 : 0;
            continue;
        }
        const int digit = HexDigit(c);
        if (digit < 0) {
            *error = QObject::tr("\"%1\" at position %2 is not a hex digit").arg(c).arg(i + 1);
            return std::nullopt;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes += static_cast<char>(high << 4 | digit);
            high = -1;
        }
    }
    if (high >= 0) {
        *error = QObject::tr("an odd hex digit at the end");
        return std::nullopt;
    }
    return bytes;
}

TSender::TSender(TCustomComPort& port, QObject* parent) : QObject(parent), port_(port) {}

TSender::~TSender() = default;

bool TSender::Send(const QByteArray& bytes, QString* error)
{
    if (!port_.Connected()) {
        *error = tr("the port is not open");
        return false;
    }
    const std::int32_t written = port_.Write(bytes.constData(), static_cast<std::int32_t>(bytes.size()));
    if (written != bytes.size()) {
        *error = tr("the port took %1 of %2 bytes").arg(written).arg(bytes.size());
        return false;
    }
    return true;
}

bool TSender::SendFile(const QString& path, QString* error)
{
    if (file_) {
        *error = tr("a file is being sent already");
        return false;
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        *error = file->errorString();
        return false;
    }
    file_ = std::move(file);
    sent_ = 0;
    QMetaObject::invokeMethod(this, &TSender::SendPiece, Qt::QueuedConnection);
    return true;
}

void TSender::Cancel()
{
    if (file_)
        Finish(tr("cancelled"));
}

void TSender::SendPiece()
{
    if (!file_)
        return;
    const QByteArray piece = file_->read(PieceSize);
    if (piece.isEmpty()) {
        Finish(file_->atEnd() ? QString() : file_->errorString());
        return;
    }
    QString error;
    if (!Send(piece, &error)) {
        Finish(error);
        return;
    }
    sent_ += piece.size();
    emit FileProgress(sent_, file_->size());
    QMetaObject::invokeMethod(this, &TSender::SendPiece, Qt::QueuedConnection);
}

void TSender::Finish(const QString& error)
{
    file_.reset();
    emit FileDone(error);
}
