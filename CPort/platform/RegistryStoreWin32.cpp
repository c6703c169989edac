#include "RegistryStore.h"

#include "WideText.h"

#include <windows.h>

#include <vector>

namespace Platform {

namespace {

HKEY Key(void* key) { return static_cast<HKEY>(key); }

} // namespace

std::unique_ptr<TRegistryStore> TRegistryStore::Open(const std::string& path, bool create, bool writable,
                                                     std::uint32_t& error)
{
    const std::wstring widePath = WideFromUtf8(path);
    const REGSAM access = writable ? KEY_QUERY_VALUE | KEY_SET_VALUE : KEY_QUERY_VALUE;
    HKEY key = nullptr;
    const LSTATUS status =
        create ? RegCreateKeyExW(HKEY_CURRENT_USER, widePath.c_str(), 0, nullptr, 0, access, nullptr, &key, nullptr)
               : RegOpenKeyExW(HKEY_CURRENT_USER, widePath.c_str(), 0, access, &key);
    error = static_cast<std::uint32_t>(status);
    if (status != ERROR_SUCCESS)
        return nullptr;
    return std::unique_ptr<TRegistryStore>(new TRegistryStore(key));
}

TRegistryStore::~TRegistryStore()
{
    RegCloseKey(Key(key_));
}

TRegistryResult TRegistryStore::Outcome(long status)
{
    if (status == ERROR_SUCCESS)
        return TRegistryResult::Ok;
    if (status == ERROR_FILE_NOT_FOUND)
        return TRegistryResult::Missing;
    error_ = static_cast<std::uint32_t>(status);
    return TRegistryResult::Failed;
}

TRegistryResult TRegistryStore::WriteString(const std::string& name, const std::string& value)
{
    const std::wstring text = WideFromUtf8(value);
    const auto size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    if (size > MaxTextBytes)
        return TRegistryResult::WrongType;
    return Outcome(RegSetValueExW(Key(key_), WideFromUtf8(name).c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(text.c_str()), size));
}

TRegistryResult TRegistryStore::WriteInteger(const std::string& name, std::int32_t value)
{
    const auto number = static_cast<DWORD>(value);
    return Outcome(RegSetValueExW(Key(key_), WideFromUtf8(name).c_str(), 0, REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&number), sizeof number));
}

namespace {

bool IsText(DWORD type, DWORD size)
{
    return type == REG_SZ && size % sizeof(wchar_t) == 0 && size <= TRegistryStore::MaxTextBytes;
}

} // namespace

// The type and size are asked first; a value that changes in between is
// read with the room asked for and no more. The text ends at its first NUL
// or, stored without one, at its stored size.
TRegistryResult TRegistryStore::ReadString(const std::string& name, std::string& value)
{
    const std::wstring wideName = WideFromUtf8(name);
    DWORD type = 0;
    DWORD size = 0;
    const TRegistryResult found = Outcome(RegQueryValueExW(Key(key_), wideName.c_str(), nullptr, &type, nullptr, &size));
    if (found != TRegistryResult::Ok)
        return found;
    if (!IsText(type, size))
        return TRegistryResult::WrongType;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
    const LSTATUS status =
        RegQueryValueExW(Key(key_), wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    if (status == ERROR_MORE_DATA)
        return TRegistryResult::WrongType;
    const TRegistryResult read = Outcome(status);
    if (read != TRegistryResult::Ok)
        return read;
    if (!IsText(type, size))
        return TRegistryResult::WrongType;
    const std::wstring_view stored(text.data(), size / sizeof(wchar_t));
    value = Utf8FromWide(stored.substr(0, stored.find(L'\0')));
    return TRegistryResult::Ok;
}

TRegistryResult TRegistryStore::ReadInteger(const std::string& name, std::int32_t& value)
{
    DWORD type = 0;
    DWORD number = 0;
    DWORD size = sizeof number;
    const LSTATUS status = RegQueryValueExW(Key(key_), WideFromUtf8(name).c_str(), nullptr, &type,
                                            reinterpret_cast<BYTE*>(&number), &size);
    if (status == ERROR_MORE_DATA)
        return TRegistryResult::WrongType;
    const TRegistryResult read = Outcome(status);
    if (read != TRegistryResult::Ok)
        return read;
    if (type != REG_DWORD || size != sizeof number)
        return TRegistryResult::WrongType;
    value = static_cast<std::int32_t>(number);
    return TRegistryResult::Ok;
}

TRegistryResult TRegistryStore::DeleteValue(const std::string& name)
{
    return Outcome(RegDeleteValueW(Key(key_), WideFromUtf8(name).c_str()));
}

TRegistryResult TRegistryStore::ValueNames(std::vector<std::string>& names)
{
    names.clear();
    // A value name is at most 16,383 characters.
    std::vector<wchar_t> name(16384);
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        const LSTATUS status =
            RegEnumValueW(Key(key_), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return TRegistryResult::Ok;
        if (status != ERROR_SUCCESS)
            return Outcome(status);
        names.push_back(Utf8FromWide(std::wstring_view(name.data(), length)));
    }
}

} // namespace Platform
