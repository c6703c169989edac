#include "IniFile.h"

#include "SafeFileWrite.h"

#include <QFile>

namespace {

bool IsSectionLine(const QString& line, QString* name = nullptr)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    if (name)
        *name = trimmed.mid(1, close - 1).trimmed();
    return true;
}

// The key of an entry line, or a null text for comments and other lines.
QString KeyOf(const QString& line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')))
        return {};
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return {};
    return line.left(equals).trimmed();
}

bool ParseInteger(QString text, std::int32_t& value)
{
    text = text.trimmed();
    bool negative = false;
    if (text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+'))) {
        negative = text.startsWith(QLatin1Char('-'));
        text.remove(0, 1);
    }
    int base = 10;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        text.remove(0, 2);
    } else if (text.startsWith(QLatin1Char('$'))) {
        base = 16;
        text.remove(0, 1);
    }
    if (text.isEmpty() || text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')))
        return false;
    bool ok = false;
    const qlonglong magnitude = text.toLongLong(&ok, base);
    if (!ok)
        return false;
    const qlonglong signedValue = negative ? -magnitude : magnitude;
    // Hexadecimal may spell a negative number by its 32 bits, as 0xFFFFFFFF.
    if (base == 16 && !negative && signedValue <= 0xFFFFFFFFLL) {
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(signedValue));
        return true;
    }
    if (signedValue < INT32_MIN || signedValue > INT32_MAX)
        return false;
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

} // namespace

IniFile::IniFile(const QString& fileName) : fileName_(fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    lines_ = text.split(QLatin1Char('\n'));
    if (!lines_.isEmpty() && lines_.back().isEmpty())
        lines_.removeLast();
}

qsizetype IniFile::SectionStart(const QString& section) const
{
    QString name;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        if (IsSectionLine(lines_[i], &name) && name.compare(section, Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return -1;
}

qsizetype IniFile::SectionEnd(qsizetype start) const
{
    qsizetype i = start;
    while (i < lines_.size() && !IsSectionLine(lines_[i]))
        ++i;
    return i;
}

qsizetype IniFile::FindKey(qsizetype start, qsizetype end, const QString& ident) const
{
    for (qsizetype i = start; i < end; ++i) {
        const QString key = KeyOf(lines_[i]);
        if (!key.isNull() && key.compare(ident, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString IniFile::ReadString(const QString& section, const QString& ident, const QString& defaultValue) const
{
    const qsizetype start = SectionStart(section);
    if (start < 0)
        return defaultValue;
    const qsizetype line = FindKey(start, SectionEnd(start), ident);
    if (line < 0)
        return defaultValue;
    return lines_[line].mid(lines_[line].indexOf(QLatin1Char('=')) + 1);
}

std::int32_t IniFile::ReadInteger(const QString& section, const QString& ident, std::int32_t defaultValue) const
{
    std::int32_t value = 0;
    return ParseInteger(ReadString(section, ident, QString()), value) ? value : defaultValue;
}

void IniFile::WriteString(const QString& section, const QString& ident, const QString& value)
{
    const QString entry = ident + QLatin1Char('=') + value;
    qsizetype start = SectionStart(section);
    if (start < 0) {
        if (!lines_.isEmpty() && !lines_.back().trimmed().isEmpty())
            lines_.append(QString());
        lines_.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines_.append(entry);
        return;
    }
    const qsizetype end = SectionEnd(start);
    const qsizetype line = FindKey(start, end, ident);
    if (line >= 0) {
        // The key keeps the spelling it has in the file.
        lines_[line] = lines_[line].left(lines_[line].indexOf(QLatin1Char('=')) + 1) + value;
        return;
    }
    // New keys go after the section's last non-blank line.
    qsizetype insertAt = end;
    while (insertAt > start && lines_[insertAt - 1].trimmed().isEmpty())
        --insertAt;
    lines_.insert(insertAt, entry);
}

void IniFile::WriteInteger(const QString& section, const QString& ident, std::int32_t value)
{
    WriteString(section, ident, QString::number(value));
}

QStringList IniFile::ReadSection(const QString& section) const
{
    QStringList keys;
    const qsizetype start = SectionStart(section);
    if (start < 0)
        return keys;
    const qsizetype end = SectionEnd(start);
    for (qsizetype i = start; i < end; ++i) {
        const QString key = KeyOf(lines_[i]);
        if (!key.isNull() && !keys.contains(key, Qt::CaseInsensitive))
            keys.append(key);
    }
    return keys;
}

QByteArray IniFile::Text() const
{
    QString text;
    for (const QString& line : lines_)
        text += line + QLatin1Char('\n');
    return text.toUtf8();
}

QString IniFile::UpdateFile() const
{
    return WriteFileSafely(fileName_, Text());
}
