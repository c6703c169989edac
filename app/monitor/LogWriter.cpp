#include "LogWriter.h"

TLogWriter::TLogWriter(QObject* parent) : QObject(parent) {}

TLogWriter::~TLogWriter() = default;

QByteArray LogLine(const TStreamLine& line)
{
    return (LineTimestamp(line.Time) + QLatin1Char(' ') + line.Text + QLatin1Char('\n')).toUtf8();
}

QByteArray LogNote(const QDateTime& time, const QString& text)
{
    return (LineTimestamp(time) + QStringLiteral(" --- ") + text + QLatin1Char('\n')).toUtf8();
}

bool TLogWriter::Open(const QString& fileName)
{
    Close();
    fileName_ = fileName;
    auto file = std::make_unique<QFile>(fileName);
    // Unbuffered: every write goes to the file at once.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        Fail(file->errorString());
        return false;
    }
    file_ = std::move(file);
    return true;
}

void TLogWriter::Close()
{
    file_.reset();
}

void TLogWriter::WriteLines(const QList<TStreamLine>& lines)
{
    if (!file_ || lines.isEmpty())
        return;
    QByteArray text;
    for (const TStreamLine& line : lines)
        text += LogLine(line);
    Write(text);
}

void TLogWriter::WriteNote(const QDateTime& time, const QString& text)
{
    if (file_)
        Write(LogNote(time, text));
}

void TLogWriter::Write(const QByteArray& text)
{
    if (file_->write(text) != text.size())
        Fail(file_->errorString());
}

void TLogWriter::Fail(const QString& reason)
{
    file_.reset();
    emit Failed(tr("The log file %1 cannot be written (%2); the monitor goes on without it.").arg(fileName_, reason));
}
