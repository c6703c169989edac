// A RegistryKey on the Windows registry itself: the four value operations
// and the value names through the platform's registry store, with the
// failures a key of a registry file raises.
#include "RegistryKey.h"

#include "platform/RegistryStore.h"

#include <string>
#include <vector>

using Platform::TRegistryResult;

namespace {

[[noreturn]] void Fail(const char* what, const QString& name)
{
    throw ERegistryException(QStringLiteral("%1 for '%2'").arg(QLatin1String(what), name));
}

} // namespace

void RegistryKey::WriteStoreString(const QString& name, const QString& value)
{
    if (access_ == ReadOnly || store_->WriteString(name.toStdString(), value.toStdString()) != TRegistryResult::Ok)
        Fail("Failed to set data", name);
}

void RegistryKey::WriteStoreInteger(const QString& name, std::int32_t value)
{
    if (access_ == ReadOnly || store_->WriteInteger(name.toStdString(), value) != TRegistryResult::Ok)
        Fail("Failed to set data", name);
}

QString RegistryKey::ReadStoreString(const QString& name) const
{
    std::string value;
    switch (store_->ReadString(name.toStdString(), value)) {
    case TRegistryResult::Ok: return QString::fromStdString(value);
    case TRegistryResult::Missing: return {};
    case TRegistryResult::WrongType: Fail("Invalid data type", name);
    case TRegistryResult::Failed: break;
    }
    Fail("Failed to get data", name);
}

std::int32_t RegistryKey::ReadStoreInteger(const QString& name) const
{
    std::int32_t value = 0;
    switch (store_->ReadInteger(name.toStdString(), value)) {
    case TRegistryResult::Ok: return value;
    case TRegistryResult::WrongType: Fail("Invalid data type", name);
    case TRegistryResult::Missing:
    case TRegistryResult::Failed: break;
    }
    Fail("Failed to get data", name);
}

QStringList RegistryKey::StoreValueNames() const
{
    std::vector<std::string> names;
    QStringList list;
    if (store_->ValueNames(names) == TRegistryResult::Ok) {
        for (const std::string& name : names)
            list.append(QString::fromStdString(name));
    }
    return list;
}
