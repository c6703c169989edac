#include "RegistryKey.h"

#include "RegistryValues.h"
#include "SafeFileWrite.h"

#include <QFile>

namespace {

class ParseError {
public:
    explicit ParseError(QString what) : what_(std::move(what)) {}
    const QString& What() const { return what_; }

private:
    QString what_;
};

// Reads a quoted text starting at pos (at the opening quote); on return pos is
// just past the closing quote.
QString ParseQuoted(const QString& line, qsizetype& pos)
{
    QString text;
    ++pos;
    while (pos < line.size()) {
        const QChar c = line[pos++];
        if (c == QLatin1Char('"'))
            return text;
        if (c == QLatin1Char('\\')) {
            if (pos >= line.size())
                break;
            const QChar escaped = line[pos++];
            if (escaped != QLatin1Char('\\') && escaped != QLatin1Char('"'))
                throw ParseError(QStringLiteral("unknown escape '\\%1'").arg(escaped));
            text += escaped;
            continue;
        }
        text += c;
    }
    throw ParseError(QStringLiteral("unterminated text"));
}

QString Quote(const QString& text)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

bool HasLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

TRegistryValue ParseValueLine(const QString& line)
{
    TRegistryValue value;
    qsizetype pos = 0;
    if (line.startsWith(QLatin1Char('@'))) {
        pos = 1;
    } else if (line.startsWith(QLatin1Char('"'))) {
        value.Name = ParseQuoted(line, pos);
    } else {
        throw ParseError(QStringLiteral("expected a value name in quotes or @"));
    }
    if (pos >= line.size() || line[pos] != QLatin1Char('='))
        throw ParseError(QStringLiteral("expected '=' after the value name"));
    ++pos;
    const QString data = line.mid(pos);
    if (data.startsWith(QLatin1Char('"'))) {
        qsizetype at = 0;
        value.Kind = TRegistryValue::String;
        value.Text = ParseQuoted(data, at);
        if (!data.mid(at).trimmed().isEmpty())
            throw ParseError(QStringLiteral("unexpected text after the closing quote"));
    } else if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QString digits = data.mid(6).trimmed();
        bool ok = false;
        const qulonglong number = digits.toULongLong(&ok, 16);
        if (!ok || digits.isEmpty() || digits.size() > 8 || digits.startsWith(QLatin1Char('-')) ||
            digits.startsWith(QLatin1Char('+')))
            throw ParseError(QStringLiteral("malformed dword value"));
        value.Kind = TRegistryValue::DWord;
        value.Number = static_cast<std::uint32_t>(number);
    } else if (data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
        value.Kind = TRegistryValue::Other;
        value.Raw = data.trimmed();
    } else {
        throw ParseError(QStringLiteral("unsupported value data"));
    }
    return value;
}

} // namespace

// ---- RegistryFile ----------------------------------------------------------

RegistryFile RegistryFile::Load(const QString& fileName)
{
    QFile file(fileName);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        throw ERegistryException(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
    return Parse(file.readAll(), fileName);
}

RegistryFile RegistryFile::Parse(const QByteArray& bytes, const QString& fileName)
{
    RegistryFile result;
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    TRegistryKeyData* key = nullptr;
    bool headerSeen = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = static_cast<int>(i + 1);
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (i == 0 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        try {
            const QString trimmed = line.trimmed();
            if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')))
                continue;
            if (!headerSeen) {
                if (trimmed != QLatin1String("REGEDIT4"))
                    throw ParseError(QStringLiteral("the file does not begin with REGEDIT4"));
                headerSeen = true;
                continue;
            }
            if (trimmed.startsWith(QLatin1Char('['))) {
                if (!trimmed.endsWith(QLatin1Char(']')) || trimmed.size() < 3)
                    throw ParseError(QStringLiteral("malformed key line"));
                if (trimmed.startsWith(QLatin1String("[-")))
                    throw ParseError(QStringLiteral("key deletion is not supported"));
                key = result.Key(trimmed.mid(1, trimmed.size() - 2), true);
                continue;
            }
            if (!key)
                throw ParseError(QStringLiteral("value outside of any key"));
            // Binary data may continue over lines ending in a backslash; a
            // continuation with no line after it would swallow whatever a
            // later save puts there.
            QString logical = trimmed;
            while (logical.endsWith(QLatin1Char('\\')) && logical.contains(QLatin1String("=hex"), Qt::CaseInsensitive)) {
                if (i + 1 >= lines.size() || lines[i + 1].trimmed().isEmpty())
                    throw ParseError(QStringLiteral("continued value without a next line"));
                logical.chop(1);
                logical += lines[++i].trimmed();
            }
            TRegistryValue value = ParseValueLine(logical);
            auto existing = std::find_if(key->Values.begin(), key->Values.end(),
                                         [&](const TRegistryValue& v) { return SameName(v.Name, value.Name); });
            if (existing != key->Values.end())
                *existing = std::move(value);
            else
                key->Values.push_back(std::move(value));
        } catch (const ParseError& error) {
            throw ERegistryException(QStringLiteral("%1:%2: %3").arg(fileName).arg(lineNumber).arg(error.What()));
        }
    }
    if (!headerSeen && !bytes.trimmed().isEmpty())
        throw ERegistryException(QStringLiteral("%1: the file does not begin with REGEDIT4").arg(fileName));
    return result;
}

QByteArray RegistryFile::Serialize() const
{
    QString text = QStringLiteral("REGEDIT4\n");
    for (const auto& key : keys_) {
        text += QStringLiteral("\n[%1]\n").arg(key->Path);
        for (const TRegistryValue& value : key->Values) {
            text += value.Name.isEmpty() ? QStringLiteral("@") : Quote(value.Name);
            text += QLatin1Char('=');
            switch (value.Kind) {
            case TRegistryValue::String: text += Quote(value.Text); break;
            case TRegistryValue::DWord:
                text += QStringLiteral("dword:%1").arg(value.Number, 8, 16, QLatin1Char('0'));
                break;
            case TRegistryValue::Other: text += value.Raw; break;
            }
            text += QLatin1Char('\n');
        }
    }
    return text.toUtf8();
}

void RegistryFile::Save(const QString& fileName) const
{
    const QString failure = WriteFileSafely(fileName, Serialize());
    if (!failure.isEmpty())
        throw ERegistryException(failure);
}

TRegistryKeyData* RegistryFile::Key(const QString& path, bool create)
{
    for (const auto& key : keys_) {
        if (SameName(key->Path, path))
            return key.get();
    }
    if (!create)
        return nullptr;
    keys_.push_back(std::make_unique<TRegistryKeyData>(TRegistryKeyData{path, {}}));
    return keys_.back().get();
}

// ---- RegistryKey ---------------------------------------------------------

namespace {

// The values of a key of a registry file.
class TFileValues final : public TRegistryValues {
public:
    explicit TFileValues(TRegistryKeyData& key) : key_(key) {}

    void WriteString(const QString& name, const QString& value) override
    {
        // The file holds one value a line; a line break cannot be stored.
        if (HasLineBreak(value))
            throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
        TRegistryValue& stored = Put(name);
        stored.Kind = TRegistryValue::String;
        stored.Text = value;
    }

    void WriteInteger(const QString& name, std::int32_t value) override
    {
        TRegistryValue& stored = Put(name);
        stored.Kind = TRegistryValue::DWord;
        stored.Number = static_cast<std::uint32_t>(value);
    }

    QString ReadString(const QString& name) const override
    {
        const TRegistryValue* value = Find(name);
        if (!value)
            return {};
        if (value->Kind != TRegistryValue::String)
            throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
        return value->Text;
    }

    std::int32_t ReadInteger(const QString& name) const override
    {
        const TRegistryValue* value = Find(name);
        if (!value)
            throw ERegistryException(QStringLiteral("Failed to get data for '%1'").arg(name));
        if (value->Kind != TRegistryValue::DWord)
            throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
        return static_cast<std::int32_t>(value->Number);
    }

    QStringList ValueNames() const override
    {
        QStringList names;
        for (const TRegistryValue& value : key_.Values)
            names.append(value.Name);
        return names;
    }

private:
    const TRegistryValue* Find(const QString& name) const
    {
        for (const TRegistryValue& value : key_.Values) {
            if (SameName(value.Name, name))
                return &value;
        }
        return nullptr;
    }

    TRegistryValue& Put(const QString& name)
    {
        // A line break in a name would make the file unloadable.
        if (HasLineBreak(name) || HasLineBreak(key_.Path))
            throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
        for (TRegistryValue& value : key_.Values) {
            if (SameName(value.Name, name))
                return value;
        }
        TRegistryValue value;
        value.Name = name;
        key_.Values.push_back(std::move(value));
        return key_.Values.back();
    }

    TRegistryKeyData& key_;
};

} // namespace

RegistryKey::RegistryKey(TRegistryKeyData& key, TAccess access)
    : values_(std::make_unique<TFileValues>(key)), access_(access)
{
}

RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;

void RegistryKey::WriteString(const QString& name, const QString& value)
{
    if (access_ == ReadOnly)
        throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
    values_->WriteString(name, value);
}

void RegistryKey::WriteInteger(const QString& name, std::int32_t value)
{
    if (access_ == ReadOnly)
        throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
    values_->WriteInteger(name, value);
}

QString RegistryKey::ReadString(const QString& name) const
{
    return values_->ReadString(name);
}

std::int32_t RegistryKey::ReadInteger(const QString& name) const
{
    return values_->ReadInteger(name);
}

QStringList RegistryKey::ValueNames() const
{
    return values_->ValueNames();
}
