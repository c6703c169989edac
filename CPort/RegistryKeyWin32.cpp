// A RegistryKey on the Windows registry itself: the four value operations
// and the value names through the platform's registry store, with the
// failures a key of a registry file raises.
#include "RegistryKey.h"
#include "RegistryValues.h"

#include "platform/RegistryStore.h"

#include <string>
#include <vector>

using Platform::TRegistryResult;

namespace {

[[noreturn]] void Fail(const char* what, const QString& name)
{
    throw ERegistryException(QStringLiteral("%1 for '%2'").arg(QLatin1String(what), name));
}

class TStoreValues final : public TRegistryValues {
public:
    explicit TStoreValues(Platform::TRegistryStore& store) : store_(store) {}

    void WriteString(const QString& name, const QString& value) override
    {
        if (store_.WriteString(name.toStdString(), value.toStdString()) != TRegistryResult::Ok)
            Fail("Failed to set data", name);
    }

    void WriteInteger(const QString& name, std::int32_t value) override
    {
        if (store_.WriteInteger(name.toStdString(), value) != TRegistryResult::Ok)
            Fail("Failed to set data", name);
    }

    QString ReadString(const QString& name) const override
    {
        std::string value;
        switch (store_.ReadString(name.toStdString(), value)) {
        case TRegistryResult::Ok: return QString::fromStdString(value);
        case TRegistryResult::Missing: return {};
        case TRegistryResult::WrongType: Fail("Invalid data type", name);
        case TRegistryResult::Failed: break;
        }
        Fail("Failed to get data", name);
    }

    std::int32_t ReadInteger(const QString& name) const override
    {
        std::int32_t value = 0;
        switch (store_.ReadInteger(name.toStdString(), value)) {
        case TRegistryResult::Ok: return value;
        case TRegistryResult::WrongType: Fail("Invalid data type", name);
        case TRegistryResult::Missing:
        case TRegistryResult::Failed: break;
        }
        Fail("Failed to get data", name);
    }

    QStringList ValueNames() const override
    {
        std::vector<std::string> names;
        QStringList list;
        if (store_.ValueNames(names) == TRegistryResult::Ok) {
            for (const std::string& name : names)
                list.append(QString::fromStdString(name));
        }
        return list;
    }

private:
    // The store's calls record its last error, so they are not const.
    Platform::TRegistryStore& store_;
};

} // namespace

RegistryKey::RegistryKey(Platform::TRegistryStore& store, TAccess access)
    : values_(std::make_unique<TStoreValues>(store)), access_(access)
{
}
