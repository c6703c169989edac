// What is behind each listed port, and the notice that the listing changed,
// on both platforms' listings.
#include "DeviceIds.h"
#include "LayerHelpers.h"
#include "MachineFixtures.h"
#include "PortDetails.h"
#include "PortWatch.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <tuple>

#ifdef _WIN32
#include "WideText.h"

#include <windows.h>
#else
#include <poll.h>
#endif

using namespace PlatformTest;

namespace {

// Whether the watch's handle reports a notice within the bound.
bool NoticeWithin(const Platform::TPortWatch& watch, int ms)
{
#ifdef _WIN32
    return WaitForSingleObject(reinterpret_cast<HANDLE>(watch.Handle()), static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
#else
    pollfd fd{static_cast<int>(watch.Handle()), POLLIN, 0};
    return ::poll(&fd, 1, ms) == 1;
#endif
}

TEST(PortDetailsListing, TheSamePortsAsTheBareListing)
{
    const auto listing = MakePortListing();
    for (const char* port : {PLATFORM_PORT("ttyUSB0", "COM3"), PLATFORM_PORT("ttyACM0", "COM4")})
        listing->AddSerial(port);
    const auto names = Platform::ListSerialDevices(listing->Source());
    const auto details = Platform::ListSerialDetails(listing->Source());
    ASSERT_TRUE(names && details) << "the listing could not be read";
    std::vector<std::string> detailNames;
    for (const Platform::TPortDetails& port : *details) {
        detailNames.push_back(port.Name);
        // Nothing is known of these ports beyond the listing: no device
        // stands behind them.
        EXPECT_EQ(port.VendorId, -1) << port.Name;
        EXPECT_EQ(port.Manufacturer, "") << port.Name;
    }
    EXPECT_EQ(detailNames, *names);
}

TEST(PortDetailsListing, AListingThatCannotBeReadGivesNothing)
{
    const Platform::TPortSource missing{PLATFORM_PORT("/nonexistent/class/tty", "SOFTWARE\\ZorbelNoSuchKey"), "/dev"};
    EXPECT_FALSE(Platform::ListSerialDetails(missing));
}

TEST(PortDetailsListing, TheMachinesOwnPortsCanBeDescribed)
{
    const auto names = Platform::ListSerialDevices(Platform::MachinePortSource());
    const auto details = Platform::ListSerialDetails(Platform::MachinePortSource());
    ASSERT_TRUE(names && details) << "the machine's own listing could not be read";
    EXPECT_EQ(details->size(), names->size());
}

#ifdef _WIN32
// The device manager describes the machine's ports only: a listing of the
// test's own that names one of them gets the name and nothing of the
// machine's device.
TEST(PortDetailsListing, AnotherListingIsNotDescribedByTheMachinesDevices)
{
    const auto machine = Platform::ListSerialDetails(Platform::MachinePortSource());
    ASSERT_TRUE(machine) << "the machine's own listing could not be read";
    const auto described = std::find_if(machine->begin(), machine->end(), [](const Platform::TPortDetails& port) {
        return !port.Description.empty() || !port.Driver.empty();
    });
    if (described == machine->end())
        GTEST_SKIP() << "the device manager describes none of this machine's ports";
    const auto listing = MakePortListing();
    listing->AddSerial(described->Name);
    const auto details = Platform::ListSerialDetails(listing->Source());
    ASSERT_TRUE(details && details->size() == 1) << "the test's listing could not be read";
    EXPECT_EQ(details->front().Name, described->Name);
    EXPECT_EQ(details->front().Description, "") << "described by the machine's device of the same name";
    EXPECT_EQ(details->front().Driver, "") << "described by the machine's device of the same name";
}
#endif

// The ids Windows gives the devices behind serial ports, instance ids and
// hardware ids alike.
TEST(DeviceIds, WhatEachIdTells)
{
    using Platform::TDeviceKind;
    // The id, then its kind, vendor, product, interface and serial number.
    const std::tuple<const char*, TDeviceKind, int, int, int, std::string> cases[] = {
        // A USB adapter whose serial number Windows took as its instance.
        {"USB\\VID_0403&PID_6001\\A50285BI", TDeviceKind::UsbDevice, 0x0403, 0x6001, -1, "A50285BI"},
        // One without a serial number: Windows made the instance up.
        {"USB\\VID_1A86&PID_7523\\5&2B7C0F36&0&1", TDeviceKind::UsbDevice, 0x1a86, 0x7523, -1, ""},
        // A composite device's interface: the serial number is its device's.
        {"USB\\VID_2341&PID_8036&MI_00\\7&1A2B3C4D&0&0000", TDeviceKind::UsbInterface, 0x2341, 0x8036, 0, ""},
        {"USB\\VID_1FC9&PID_0083&MI_0A\\6&ABC&0&000A", TDeviceKind::UsbInterface, 0x1fc9, 0x0083, 10, ""},
        // FTDI ports: the driver appends the chip's port letter.
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", TDeviceKind::FtdiPort, 0x0403, 0x6001, 0, "A50285BI"},
        {"FTDIBUS\\VID_0403+PID_6011+FT4ZQ1B2D\\0000", TDeviceKind::FtdiPort, 0x0403, 0x6011, 3, "FT4ZQ1B2"},
        // A chip without a serial number, and a port letter that is not one.
        {"FTDIBUS\\VID_0403+PID_6001+5&1A2B3C4D&0&2\\0000", TDeviceKind::FtdiPort, 0x0403, 0x6001, -1, ""},
        {"FTDIBUS\\VID_0403+PID_6001+A50285B1\\0000", TDeviceKind::FtdiPort, 0x0403, 0x6001, -1, ""},
        // Hardware ids: ids, never a serial number; any case.
        {"USB\\Vid_2341&Pid_0043&Rev_0001", TDeviceKind::UsbDevice, 0x2341, 0x0043, -1, ""},
        {"FTDIBUS\\COMPORT&VID_0403&PID_6001", TDeviceKind::FtdiPort, 0x0403, 0x6001, -1, ""},
        // Not USB: a built-in port, a Bluetooth link, nonsense.
        {"ACPI\\PNP0501\\1", TDeviceKind::Other, -1, -1, -1, ""},
        {"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1&0&000000000000_00000003",
         TDeviceKind::Other, -1, -1, -1, ""},
        {"USB\\VID_04O3&PID_60011\\X", TDeviceKind::UsbDevice, -1, -1, -1, "X"},
        {"", TDeviceKind::Other, -1, -1, -1, ""},
        {"USB\\VID_0403&PID_6001\\A\\B", TDeviceKind::Other, -1, -1, -1, ""},
    };
    for (const auto& c : cases) {
        const Platform::TDeviceId id = Platform::ParseDeviceId(std::get<0>(c));
        EXPECT_EQ(std::tie(std::get<0>(c), id.Kind, id.VendorId, id.ProductId, id.Interface, id.SerialNumber), c);
    }
}

TEST(PortWatch, EachChangeOfTheListingGivesANotice)
{
    const auto listing = MakePortListing();
    Platform::TPortWatch watch(listing->Source());
    ASSERT_TRUE(watch.Valid()) << "the listing cannot be watched";
    EXPECT_FALSE(NoticeWithin(watch, 100)) << "a notice before any change";
    listing->AddSerial(PLATFORM_PORT("ttyUSB0", "COM3"));
    ASSERT_TRUE(NoticeWithin(watch, 2000)) << "no notice of a port added";
    watch.TakeChanges();
    listing->AddSerial(PLATFORM_PORT("ttyUSB1", "COM5"));
    EXPECT_TRUE(NoticeWithin(watch, 2000)) << "no notice of the second change: the watch was not renewed";
}

TEST(PortWatch, AListingThatCannotBeWatchedSaysSo)
{
    // On Windows the key above the listing is watched: here it is missing too.
    const Platform::TPortWatch watch({PLATFORM_PORT("/nonexistent/class/tty", "SOFTWARE\\ZorbelNoSuchKey\\SERIALCOMM"),
                                      PLATFORM_PORT("/nonexistent/dev", "")});
    EXPECT_FALSE(watch.Valid());
}

#ifdef _WIN32

// Windows makes the listing's key (a volatile one) only when a driver names
// the first port: the watch must not need it.
class PortWatchWithoutListing : public ::testing::Test {
protected:
    static constexpr wchar_t Parent[] = L"SOFTWARE\\ZorbelPlatformTests\\DEVICEMAP";
    static constexpr char Listing[] = "SOFTWARE\\ZorbelPlatformTests\\DEVICEMAP\\SERIALCOMM";

    void SetUp() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, Parent);
        HKEY parent = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Parent, 0, nullptr, 0, KEY_READ, nullptr, &parent, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(parent);
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, Parent); }

    // A port as a serial driver names it: the volatile listing key made if
    // need be, and a value for the port.
    static void AddPort(const wchar_t* device, const wchar_t* port)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Platform::WideFromUtf8(Listing).c_str(), 0, nullptr,
                                  REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, device, 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                       static_cast<DWORD>((wcslen(port) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
};

TEST_F(PortWatchWithoutListing, TheFirstPortIsSeen)
{
    Platform::TPortWatch watch({Listing, ""});
    ASSERT_TRUE(watch.Valid()) << "a missing listing key cannot be watched";
    AddPort(L"\\Device\\Serial0", L"COM7");
    ASSERT_TRUE(NoticeWithin(watch, 2000)) << "no notice of the first port";
    watch.TakeChanges();
    EXPECT_EQ(Platform::ListSerialDevices({Listing, ""}), std::vector<std::string>{"COM7"});
    AddPort(L"\\Device\\Serial1", L"COM8");
    EXPECT_TRUE(NoticeWithin(watch, 2000)) << "no notice of the second port: the watch was not renewed";
}

// The key above the listing goes (a test's tree, not Windows' own), and the
// watch is renewed after a notice: the renewal fails, and is tried again
// about a second later, until the key is back.
TEST_F(PortWatchWithoutListing, AWatchThatCannotBeRenewedIsTriedAgain)
{
    Platform::TPortWatch watch({Listing, ""});
    ASSERT_TRUE(watch.Valid());
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, Parent), ERROR_SUCCESS);
    // Windows gives a notice of the watched key going, Wine none: the
    // component's renewal is made here either way.
    NoticeWithin(watch, 100);
    watch.TakeChanges();
    // The notices are taken as the component takes them, for 2.5 s: the
    // closed handle's last one, then a try about each second. A busy loop
    // would give one at once after each.
    int notices = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
    for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
        if (NoticeWithin(watch, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(end - now).count()))) {
            ++notices;
            watch.TakeChanges();
        }
    }
    EXPECT_GE(notices, 2) << "the failed renewal was not tried again";
    EXPECT_LE(notices, 5) << "tried again at once: a busy loop";
    SetUp();
    watch.TakeChanges();
    AddPort(L"\\Device\\Serial0", L"COM7");
    EXPECT_TRUE(NoticeWithin(watch, 2000)) << "the key came back but is not watched";
}

#endif

} // namespace
