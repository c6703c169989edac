#pragma once

// The continuous log of what the board said: every line with its time,
// appended to one file across reconnects, where the gaps are marked. Each
// batch of lines reaches the file before the call returns (no line waits in a
// buffer). A file that cannot be written is reported once; the monitor goes
// on without it.

#include "StreamDecoder.h"

#include <QFile>
#include <QObject>

#include <memory>

class TLogWriter : public QObject {
    Q_OBJECT

public:
    explicit TLogWriter(QObject* parent = nullptr);
    ~TLogWriter() override;

    // Appends to fileName from now on. False, reported, when it cannot be
    // opened for writing.
    bool Open(const QString& fileName);
    void Close();
    bool Active() const { return file_ != nullptr; }
    const QString& FileName() const { return fileName_; }

    void WriteLines(const QList<TStreamLine>& lines);
    // A line of the monitor's own (a gap, a reconnect, a flash's verdict),
    // marked apart from the board's.
    void WriteNote(const QDateTime& time, const QString& text);

signals:
    // Once per file that cannot be written, with the system's reason.
    void Failed(const QString& message);

private:
    void Write(const QByteArray& text);
    void Fail(const QString& reason);

    QString fileName_;
    std::unique_ptr<QFile> file_;
};

// The log's form of one line and of one note.
QByteArray LogLine(const TStreamLine& line);
QByteArray LogNote(const QDateTime& time, const QString& text);
