#pragma once

// An initialisation file with the Windows rules: section and key names match
// without regard to case, a value is the rest of its line after '=', the first
// of duplicate keys wins, lines starting with ';' are comments. Writing
// changes only the entry written; every other line is kept byte for byte,
// whatever its encoding. A name or value with a line break is refused: it
// would add entries or sections of its own.

#include "ComExceptions.h"

#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <cstdint>

// A write the file cannot hold, or an update that would lose the file.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

class IniFile {
public:
    // Reads the file; a missing file reads as an empty one. One that exists
    // but cannot be read reads as empty and is never replaced.
    explicit IniFile(const QString& fileName);

    const QString& FileName() const { return fileName_; }

    QString ReadString(const QString& section, const QString& ident, const QString& defaultValue) const;
    // Decimal, or hexadecimal with "0x" or "$", with an optional sign and
    // blanks around; anything else gives the default.
    std::int32_t ReadInteger(const QString& section, const QString& ident, std::int32_t defaultValue) const;
    // Raises EIniFileException, and writes nothing, for a line break in any
    // of the three.
    void WriteString(const QString& section, const QString& ident, const QString& value);
    void WriteInteger(const QString& section, const QString& ident, std::int32_t value);

    // The keys of a section, first occurrences only, in file order.
    QStringList ReadSection(const QString& section) const;

    // Writes the file without ever losing the previous one; returns an empty
    // text on success, else what failed (also when the file could not be read).
    QString UpdateFile() const;
    QByteArray Text() const;

private:
    // The line range of a section's body, or -1 when it is absent.
    qsizetype SectionStart(const QString& section) const;
    qsizetype SectionEnd(qsizetype start) const;
    qsizetype FindKey(qsizetype start, qsizetype end, const QString& ident) const;

    // A line as text: without its carriage return, and the first without a
    // byte-order mark.
    QString LineText(qsizetype index) const;
    // Replaces or inserts a line, ending it as the file's lines end.
    QByteArray NewLine(const QString& text) const;

    QString fileName_;
    // The file's lines as read, without the line feeds.
    QByteArrayList lines_;
    QString readError_;
};
