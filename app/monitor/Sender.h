#pragma once

// What the user sends to the board: a line with the ending chosen, bytes
// typed in hex, or a whole file, which goes in pieces so that the window
// stays live while it is sent.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QFile;
class TCustomComPort;

enum TLineEnding : std::uint8_t { leNone, leLF, leCR, leCRLF };

// The line as UTF-8 with its ending.
QByteArray WithLineEnding(const QString& text, TLineEnding ending);
// Bytes typed as pairs of hex digits ("48 65 0d0a", "0x48,0x65"): blanks,
// commas and "0x" before a pair separate them. Nothing, and the reason in
// error, for any other text or an odd digit.
std::optional<QByteArray> ParseHexBytes(const QString& text, QString* error);

class TSender : public QObject {
    Q_OBJECT

public:
    explicit TSender(TCustomComPort& port, QObject* parent = nullptr);
    ~TSender() override;

    // Writes the bytes now. False, with the reason, when the port is closed
    // or did not take them all.
    bool Send(const QByteArray& bytes, QString* error);
    // Starts sending the file; false, with the reason, when it cannot be
    // read or one is being sent already.
    bool SendFile(const QString& path, QString* error);
    void Cancel();
    bool SendingFile() const { return file_ != nullptr; }

signals:
    void FileProgress(qint64 sent, qint64 total);
    // Empty when the whole file went.
    void FileDone(const QString& error);

private:
    void SendPiece();
    void Finish(const QString& error);

    TCustomComPort& port_;
    std::unique_ptr<QFile> file_;
    qint64 sent_ = 0;
};
