// The machine's serial ports as the system lists them, and the event
// thread's priorities.
#include "LayerHelpers.h"
#include "MachineFixtures.h"
#include "ThreadPriority.h"

#include <algorithm>
#include <thread>

using namespace PlatformTest;

namespace {

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PortListing, EverySerialPortIsListedAndNothingElse)
{
    const auto listing = MakePortListing();
    for (const char* port : {PLATFORM_PORT("ttyUSB0", "COM3"), PLATFORM_PORT("ttyS1", "COM12"),
                             PLATFORM_PORT("ttyACM0", "COM4")})
        listing->AddSerial(port);
    listing->AddOther(PLATFORM_PORT("ttyS0", "NotAPort"));
    const auto names = Platform::ListSerialDevices(listing->Source());
    ASSERT_TRUE(names) << "the listing could not be read";
    const std::vector<std::string> expected = {listing->Listed(PLATFORM_PORT("ttyUSB0", "COM3")),
                                               listing->Listed(PLATFORM_PORT("ttyS1", "COM12")),
                                               listing->Listed(PLATFORM_PORT("ttyACM0", "COM4"))};
    EXPECT_EQ(Sorted(*names), Sorted(expected));
}

#ifdef _WIN32
// The key's values are read into a buffer that grows to the longest of them.
TEST(PortListing, ANameLongerThanTheFirstBufferIsListed)
{
    const auto listing = MakePortListing();
    const std::string longName = "COM" + std::string(700, '7');
    listing->AddSerial("COM3");
    listing->AddSerial(longName);
    const auto names = Platform::ListSerialDevices(listing->Source());
    ASSERT_TRUE(names) << "the listing could not be read";
    EXPECT_EQ(Sorted(*names), Sorted({"COM3", longName}));
}
#endif

TEST(PortListing, AnEmptyListingGivesNoPorts)
{
    const auto listing = MakePortListing();
    const auto names = Platform::ListSerialDevices(listing->Source());
    ASSERT_TRUE(names) << "an empty listing could not be read";
    EXPECT_TRUE(names->empty());
}

TEST(PortListing, AListingThatCannotBeReadGivesNothing)
{
    const Platform::TPortSource missing{PLATFORM_PORT("/nonexistent/class/tty", "SOFTWARE\\ZorbelNoSuchKey"), "/dev"};
    EXPECT_FALSE(Platform::ListSerialDevices(missing)) << "a missing listing read as a list";
}

TEST(PortListing, TheMachinesOwnListingCanBeRead)
{
    EXPECT_TRUE(Platform::ListSerialDevices(Platform::MachinePortSource()))
        << "the machine's own listing could not be read";
}

// The priority a new thread has after asking for one.
int PriorityAfterAsking(std::uint8_t priority)
{
    int seen = -2;
    std::thread([&] {
        Platform::SetCurrentThreadPriority(priority);
        seen = CurrentThreadPriority();
    }).join();
    return seen;
}

int PriorityOfANewThread()
{
    int seen = -2;
    std::thread([&] { seen = CurrentThreadPriority(); }).join();
    return seen;
}

// Lowering a thread's priority needs no privilege, so these take effect
// wherever the suite runs.
TEST(ThreadPriority, IdleAndLowestAreTheSystemsOwn)
{
    EXPECT_EQ(PriorityAfterAsking(0), 0) << "idle";
    EXPECT_EQ(PriorityAfterAsking(1), 1) << "lowest";
}

// A thread starts with its creator's priority (the suite may itself run
// lowered); normal and a priority out of range leave it so.
TEST(ThreadPriority, NormalAndOutOfRangeLeaveTheThreadAsItStarted)
{
    const int start = PriorityOfANewThread();
    EXPECT_EQ(PriorityAfterAsking(3), start) << "normal";
    EXPECT_EQ(PriorityAfterAsking(7), start) << "out of range";
}

} // namespace
