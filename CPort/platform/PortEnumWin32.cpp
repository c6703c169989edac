#include "PortEnum.h"
#include "WideText.h"

#include <windows.h>

#include <vector>

namespace Platform {

namespace {

// Closes the key however the listing ends.
class TOpenKey {
public:
    explicit TOpenKey(const std::wstring& path)
        : result_(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key_))
    {
        if (result_ != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~TOpenKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    TOpenKey(const TOpenKey&) = delete;
    TOpenKey& operator=(const TOpenKey&) = delete;

    HKEY Get() const { return key_; }
    LONG Result() const { return result_; }

private:
    HKEY key_ = nullptr;
    LONG result_;
};

// A REG_SZ value's text without the terminating NULs the writer may or may
// not have stored.
std::wstring TextOf(const std::vector<BYTE>& data, DWORD size)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

} // namespace

TPortSource MachinePortSource()
{
    return {"HARDWARE\\DEVICEMAP\\SERIALCOMM", ""};
}

// Each value of the key is one port: its data is the port's name (COM3);
// the value's own name is the driver's device and is not shown.
std::optional<std::vector<std::string>> ListSerialDevices(const TPortSource& source)
{
    const TOpenKey key(WideFromUtf8(source.Listing));
    if (!key.Get()) {
        // The machine's listing is a volatile key that the serial drivers
        // make with their first port: without it the machine has no port.
        if (key.Result() == ERROR_FILE_NOT_FOUND && source.Listing == MachinePortSource().Listing)
            return std::vector<std::string>{};
        return std::nullopt;
    }
    std::vector<std::string> names;
    // Value names are at most 16383 characters; a value's data is as long
    // as the writer made it, and its buffer grows to what the key says.
    std::vector<wchar_t> valueName(16384);
    std::vector<BYTE> data(1024);
    // A value that grows again between two reads is read again, a few
    // times at most; any other error ends the listing, which then cannot
    // be read (a key deleted meanwhile reads as no key).
    constexpr int MaxTries = 4;
    for (DWORD index = 0;; ++index) {
        LONG result = ERROR_MORE_DATA;
        DWORD type = 0, size = 0;
        for (int tries = 0; result == ERROR_MORE_DATA && tries < MaxTries; ++tries) {
            if (size > data.size())
                data.resize(size);
            DWORD nameLength = static_cast<DWORD>(valueName.size());
            size = static_cast<DWORD>(data.size());
            result = RegEnumValueW(key.Get(), index, valueName.data(), &nameLength, nullptr, &type, data.data(),
                                   &size);
        }
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            return std::nullopt;
        if (type != REG_SZ)
            continue;
        const std::wstring port = TextOf(data, size);
        if (!port.empty())
            names.push_back(Utf8FromWide(port));
    }
    return names;
}

} // namespace Platform
