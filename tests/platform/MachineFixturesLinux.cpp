#include "MachineFixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/resource.h>
#include <unistd.h>

namespace PlatformTest {

namespace fs = std::filesystem;

namespace {

// A tty class directory: each entry a folder, serial ones with a device link,
// legacy ttyS ones with the UART type the kernel reports.
class TSysfsListing final : public TPortListing {
public:
    TSysfsListing()
    {
        char pattern[] = "/tmp/zorbel-sysfs-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        EXPECT_TRUE(made) << "no temporary folder";
        root_ = made ? made : "";
        fs::create_directories(root_ / "class/tty");
        fs::create_directories(root_ / "devices/serial0");
    }
    ~TSysfsListing() override
    {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    void AddSerial(const std::string& port) override
    {
        const fs::path entry = Entry(port);
        fs::create_directory_symlink(root_ / "devices/serial0", entry / "device");
        if (port.starts_with("ttyS"))
            std::ofstream(entry / "type") << "4\n";
    }
    // A legacy port the kernel reserves with no UART behind it.
    void AddOther(const std::string& entry) override
    {
        const fs::path folder = Entry(entry);
        fs::create_directory_symlink(root_ / "devices/serial0", folder / "device");
        std::ofstream(folder / "type") << "0\n";
    }
    Platform::TPortSource Source() const override { return {(root_ / "class/tty").string(), "/dev"}; }
    std::string Listed(const std::string& port) const override { return "/dev/" + port; }

private:
    fs::path Entry(const std::string& name)
    {
        const fs::path entry = root_ / "class/tty" / name;
        fs::create_directories(entry);
        return entry;
    }

    fs::path root_;
};

} // namespace

std::unique_ptr<TPortListing> MakePortListing()
{
    return std::make_unique<TSysfsListing>();
}

int CurrentThreadPriority()
{
    constexpr std::array<int, 7> NiceValues = {19, 10, 5, 0, -5, -10, -20};
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    for (std::size_t i = 0; i < NiceValues.size(); ++i)
        if (NiceValues[i] == nice && errno == 0)
            return static_cast<int>(i);
    return -1;
}

} // namespace PlatformTest
