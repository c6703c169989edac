#pragma once

// A typed key-value store with the operations of a registry key, kept as a
// REGEDIT4 text file:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Zorbel\Port]
//   "Port"="/dev/ttyUSB0"
//   "Buffer.InputSize"=dword:00000400
//
// Key paths and value names match without regard to case, as in the registry.
// Values of other types (hex:...) are kept as they are and read as the wrong type.

#include "ComExceptions.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

struct TRegistryValue {
    enum TKind { String, DWord, Other };
    QString Name; // empty for the key's default value (@)
    TKind Kind = String;
    QString Text;
    std::uint32_t Number = 0;
    QString Raw; // the data as written in the file, for Other
};

struct TRegistryKeyData {
    QString Path;
    std::vector<TRegistryValue> Values;
};

// A whole REGEDIT4 file.
class RegistryFile {
public:
    RegistryFile() = default;

    // A missing file reads as an empty one; a malformed one raises
    // ERegistryException naming the file and the line.
    static RegistryFile Load(const QString& fileName);
    static RegistryFile Parse(const QByteArray& text, const QString& fileName);
    // Writes the file without ever losing the previous one; raises
    // ERegistryException when it cannot.
    void Save(const QString& fileName) const;
    QByteArray Serialize() const;

    // The key of that path, or null; with create, a missing key is added.
    TRegistryKeyData* Key(const QString& path, bool create);

private:
    std::vector<std::unique_ptr<TRegistryKeyData>> keys_;
};

#ifdef _WIN32
namespace Platform {
class TRegistryStore;
}
#endif
class TRegistryValues;

// One open key: of a registry file, or on Windows of the registry itself.
class RegistryKey {
public:
    enum TAccess { ReadWrite, ReadOnly };

    RegistryKey(TRegistryKeyData& key, TAccess access = ReadWrite);
#ifdef _WIN32
    // A key the caller opened (TRegistryStore::Open, under
    // HKEY_CURRENT_USER) and keeps open while this one is used; the values
    // are the registry's own REG_SZ and REG_DWORD values, with the same
    // failures as a file's.
    RegistryKey(Platform::TRegistryStore& store, TAccess access = ReadWrite);
#endif
    ~RegistryKey();
    RegistryKey(RegistryKey&&) noexcept;
    RegistryKey& operator=(RegistryKey&&) noexcept;

    // Stored as text; fails with "Failed to set data for '<name>'" on a key
    // opened read-only.
    void WriteString(const QString& name, const QString& value);
    void WriteInteger(const QString& name, std::int32_t value);
    // Empty text when the value is missing; "Invalid data type for '<name>'"
    // when it is not text.
    QString ReadString(const QString& name) const;
    // "Failed to get data for '<name>'" when missing, "Invalid data type for
    // '<name>'" when it is not a 32-bit number.
    std::int32_t ReadInteger(const QString& name) const;

    QStringList ValueNames() const;

private:
    // Where the values are kept (RegistryValues.h).
    std::unique_ptr<TRegistryValues> values_;
    TAccess access_;
};
