#include "MachineFixtures.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>

namespace PlatformTest {

namespace {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// A key of the test's own under HKEY_LOCAL_MACHINE, laid out as SERIALCOMM:
// one value per port, named after the driver's device, the port's name as
// its text.
class TRegistryListing final : public TPortListing {
public:
    TRegistryListing()
    {
        const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(Path).c_str(), 0, nullptr, 0,
                                               KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key_, nullptr);
        EXPECT_EQ(status, ERROR_SUCCESS) << "the test's port listing key cannot be made";
    }
    ~TRegistryListing() override
    {
        RegCloseKey(key_);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(Path).c_str());
    }

    void AddSerial(const std::string& port) override
    {
        const std::wstring device = L"\\Device\\Serial" + std::to_wstring(count_++);
        const std::wstring text = Wide(port);
        RegSetValueExW(key_, device.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    // A value that is not text names no port.
    void AddOther(const std::string& entry) override
    {
        const DWORD number = 3;
        RegSetValueExW(key_, Wide(entry).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    Platform::TPortSource Source() const override { return {Path, ""}; }
    std::string Listed(const std::string& port) const override { return port; }

private:
    static constexpr char Path[] = "SOFTWARE\\ZorbelPlatformTests\\SERIALCOMM";
    HKEY key_ = nullptr;
    int count_ = 0;
};

} // namespace

std::unique_ptr<TPortListing> MakePortListing()
{
    return std::make_unique<TRegistryListing>();
}

int CurrentThreadPriority()
{
    constexpr std::array<int, 7> Priorities = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                               THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                               THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                               THREAD_PRIORITY_TIME_CRITICAL};
    const int priority = GetThreadPriority(GetCurrentThread());
    for (std::size_t i = 0; i < Priorities.size(); ++i)
        if (Priorities[i] == priority)
            return static_cast<int>(i);
    return -1;
}

} // namespace PlatformTest
