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

int DigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// A whole number: optional sign, then decimal digits, or hexadecimal digits
// after "0x" or "$"; blanks only around it.
bool ParseInteger(QString text, std::int32_t& value)
{
    text = text.trimmed();
    qsizetype pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == QLatin1Char('-') || text[pos] == QLatin1Char('+'))) {
        negative = text[pos] == QLatin1Char('-');
        ++pos;
    }
    int base = 10;
    if (QStringView(text).mid(pos, 2).compare(QLatin1String("0x"), Qt::CaseInsensitive) == 0) {
        base = 16;
        pos += 2;
    } else if (pos < text.size() && text[pos] == QLatin1Char('$')) {
        base = 16;
        ++pos;
    }
    if (pos == text.size())
        return false;
    std::uint64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = DigitValue(text[pos]);
        if (digit < 0 || digit >= base)
            return false;
        magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (magnitude > 0xFFFFFFFFull)
            return false;
    }
    const std::int64_t signedValue = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    // Hexadecimal may spell a negative number by its 32 bits, as 0xFFFFFFFF.
    if (base == 16 && !negative) {
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
        return true;
    }
    if (signedValue < INT32_MIN || signedValue > INT32_MAX)
        return false;
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

bool HasLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

} // namespace

IniFile::IniFile(const QString& fileName) : fileName_(fileName)
{
    QFile file(fileName);
    if (!file.exists())
        return;
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        readError_ = QStringLiteral("Cannot read '%1': %2").arg(fileName, file.errorString());
        return;
    }
    lines_ = bytes.split('\n');
    if (!lines_.isEmpty() && lines_.back().isEmpty())
        lines_.removeLast();
}

QString IniFile::LineText(qsizetype index) const
{
    QByteArrayView raw = lines_[index];
    if (raw.endsWith('\r'))
        raw.chop(1);
    if (index == 0 && raw.startsWith("\xEF\xBB\xBF"))
        raw = raw.sliced(3);
    return QString::fromUtf8(raw);
}

QByteArray IniFile::NewLine(const QString& text) const
{
    QByteArray line = text.toUtf8();
    if (!lines_.isEmpty() && lines_.front().endsWith('\r'))
        line += '\r';
    return line;
}

qsizetype IniFile::SectionStart(const QString& section) const
{
    QString name;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        if (IsSectionLine(LineText(i), &name) && name.compare(section, Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return -1;
}

qsizetype IniFile::SectionEnd(qsizetype start) const
{
    qsizetype i = start;
    while (i < lines_.size() && !IsSectionLine(LineText(i)))
        ++i;
    return i;
}

qsizetype IniFile::FindKey(qsizetype start, qsizetype end, const QString& ident) const
{
    for (qsizetype i = start; i < end; ++i) {
        const QString key = KeyOf(LineText(i));
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
    const QString text = LineText(line);
    return text.mid(text.indexOf(QLatin1Char('=')) + 1);
}

std::int32_t IniFile::ReadInteger(const QString& section, const QString& ident, std::int32_t defaultValue) const
{
    std::int32_t value = 0;
    return ParseInteger(ReadString(section, ident, QString()), value) ? value : defaultValue;
}

void IniFile::WriteString(const QString& section, const QString& ident, const QString& value)
{
    if (HasLineBreak(section) || HasLineBreak(ident) || HasLineBreak(value))
        throw EIniFileException(
            QStringLiteral("Cannot write entry '%1' of section [%2] to '%3': a line break cannot be stored")
                .arg(ident, section, fileName_));
    const QString entry = ident + QLatin1Char('=') + value;
    qsizetype start = SectionStart(section);
    if (start < 0) {
        if (!lines_.isEmpty() && !LineText(lines_.size() - 1).trimmed().isEmpty())
            lines_.append(NewLine(QString()));
        lines_.append(NewLine(QLatin1Char('[') + section + QLatin1Char(']')));
        lines_.append(NewLine(entry));
        return;
    }
    const qsizetype end = SectionEnd(start);
    const qsizetype line = FindKey(start, end, ident);
    if (line >= 0) {
        // The key keeps the spelling, and the bytes, it has in the file.
        QByteArray& raw = lines_[line];
        const bool carriageReturn = raw.endsWith('\r');
        raw.truncate(raw.indexOf('=') + 1);
        raw += value.toUtf8();
        if (carriageReturn)
            raw += '\r';
        return;
    }
    // New keys go after the section's last non-blank line.
    qsizetype insertAt = end;
    while (insertAt > start && LineText(insertAt - 1).trimmed().isEmpty())
        --insertAt;
    lines_.insert(insertAt, NewLine(entry));
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
        const QString key = KeyOf(LineText(i));
        if (!key.isNull() && !keys.contains(key, Qt::CaseInsensitive))
            keys.append(key);
    }
    return keys;
}

QByteArray IniFile::Text() const
{
    QByteArray text;
    for (const QByteArray& line : lines_)
        text += line + '\n';
    return text;
}

QString IniFile::UpdateFile() const
{
    // What could not be read must not be replaced by what was understood of it.
    if (!readError_.isEmpty())
        return readError_;
    return WriteFileSafely(fileName_, Text());
}
