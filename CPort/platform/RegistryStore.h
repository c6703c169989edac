#pragma once

// One key of the Windows registry under HKEY_CURRENT_USER, with text
// (REG_SZ) and 32-bit integer (REG_DWORD) values, through the wide API: the
// store the component's settings go to on Windows. On Linux the component
// keeps its REGEDIT4 file instead, and this is not built.
//
// Values are read with their stored size and never past it: text of an odd
// size or longer than MaxTextBytes, and integers that are not exactly four
// bytes, are refused as the wrong type; text stored without its NUL ends at
// its stored size.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Platform {

enum class TRegistryResult {
    Ok,
    Missing,   // no such value
    WrongType, // a value of another type, or malformed
    Failed,    // the system refused: Error() tells why
};

class TRegistryStore {
public:
    // The longest text value read, in bytes of UTF-16 with its NUL.
    static constexpr std::uint32_t MaxTextBytes = 64 * 1024;

    // Opens HKEY_CURRENT_USER\path, creating it when asked; null with the
    // system's error when it cannot.
    static std::unique_ptr<TRegistryStore> Open(const std::string& path, bool create, bool writable,
                                                std::uint32_t& error);
    ~TRegistryStore();
    TRegistryStore(const TRegistryStore&) = delete;
    TRegistryStore& operator=(const TRegistryStore&) = delete;

    TRegistryResult WriteString(const std::string& name, const std::string& value);
    TRegistryResult WriteInteger(const std::string& name, std::int32_t value);
    TRegistryResult ReadString(const std::string& name, std::string& value);
    TRegistryResult ReadInteger(const std::string& name, std::int32_t& value);
    TRegistryResult DeleteValue(const std::string& name);
    // The names of the key's values, in the registry's order.
    TRegistryResult ValueNames(std::vector<std::string>& names);
    // The system's error of the last call that Failed.
    std::uint32_t Error() const { return error_; }

private:
    explicit TRegistryStore(void* key) : key_(key) {}
    TRegistryResult Outcome(long status);

    void* key_;
    std::uint32_t error_ = 0;
};

} // namespace Platform
