#pragma once

// Where a RegistryKey's values are kept: a registry file's key data
// (RegistryKey.cpp), or on Windows a key of the registry itself
// (RegistryKeyWin32.cpp). Each raises the key's failures, with the key's
// texts; whether the key may be written is the key's own check.

#include <QString>
#include <QStringList>

#include <cstdint>

class TRegistryValues {
public:
    virtual ~TRegistryValues() = default;
    virtual void WriteString(const QString& name, const QString& value) = 0;
    virtual void WriteInteger(const QString& name, std::int32_t value) = 0;
    virtual QString ReadString(const QString& name) const = 0;
    virtual std::int32_t ReadInteger(const QString& name) const = 0;
    virtual QStringList ValueNames() const = 0;
};
