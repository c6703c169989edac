// What is behind each listed port, and the notice that the listing changed,
// on both platforms' listings.
#include "LayerHelpers.h"
#include "MachineFixtures.h"
#include "PortDetails.h"
#include "PortWatch.h"

#include <algorithm>

#ifdef _WIN32
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
    const Platform::TPortWatch watch({PLATFORM_PORT("/nonexistent/class/tty", "SOFTWARE\\ZorbelNoSuchKey"),
                                      PLATFORM_PORT("/nonexistent/dev", "")});
    EXPECT_FALSE(watch.Valid());
}

} // namespace
