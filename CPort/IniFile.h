#pragma once

// An initialisation file with the Windows rules: section and key names match
// without regard to case, a value is the rest of its line after '=', the first
// of duplicate keys wins, lines starting with ';' are comments. Writing
// changes only the entry written; every other line is kept as it was.

#include <QString>
#include <QStringList>

#include <cstdint>

class IniFile {
public:
    // Reads the file; a missing file reads as an empty one.
    explicit IniFile(const QString& fileName);

    const QString& FileName() const { return fileName_; }

    QString ReadString(const QString& section, const QString& ident, const QString& defaultValue) const;
    // Decimal, or hexadecimal with "0x" or "$"; anything else gives the default.
    std::int32_t ReadInteger(const QString& section, const QString& ident, std::int32_t defaultValue) const;
    void WriteString(const QString& section, const QString& ident, const QString& value);
    void WriteInteger(const QString& section, const QString& ident, std::int32_t value);

    // The keys of a section, first occurrences only, in file order.
    QStringList ReadSection(const QString& section) const;

    // Writes the file without ever losing the previous one; returns an empty
    // text on success, else what failed.
    QString UpdateFile() const;
    QByteArray Text() const;

private:
    // The line range of a section's body, or -1 when it is absent.
    qsizetype SectionStart(const QString& section) const;
    qsizetype SectionEnd(qsizetype start) const;
    qsizetype FindKey(qsizetype start, qsizetype end, const QString& ident) const;

    QString fileName_;
    QStringList lines_;
};
