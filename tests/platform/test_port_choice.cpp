// The Windows window's port list: the choice at start-up and as ports come
// and go, without the system.
#include "PortChoice.h"

#include <gtest/gtest.h>

namespace {

std::vector<TPortEntry> Ports(std::initializer_list<const wchar_t*> names)
{
    std::vector<TPortEntry> entries;
    for (const wchar_t* name : names)
        entries.push_back({name, L""});
    return entries;
}

TEST(PortChoice, StartChoosesAsTheStoredLayoutAsks)
{
    const struct {
        std::vector<TPortEntry> ports;
        const wchar_t* storedText;
        std::optional<int> storedIndex;
        int chosen;
    } cases[] = {
        // The layout's own: "COM9", then item index 0, which wins.
        {Ports({L"COM1", L"COM5", L"COM9"}), L"COM9", 0, 0},
        {Ports({L"COM1", L"COM5", L"com9"}), L"COM9", std::nullopt, 2},
        {Ports({L"COM1", L"COM5"}), L"COM9", std::nullopt, 0},
        {Ports({L"COM1"}), L"", 3, -1},
        {Ports({}), L"COM9", 0, -1},
    };
    for (const auto& c : cases) {
        TPortChoice choice;
        choice.Start(c.ports, c.storedText, c.storedIndex);
        EXPECT_EQ(choice.Chosen(), c.chosen) << c.ports.size() << " ports";
    }
}

TEST(PortChoice, TheChoiceStaysAndAVanishedOneIsAwaited)
{
    TPortChoice choice;
    choice.Start(Ports({L"COM3", L"COM5"}), L"", 0);
    choice.Pick(1);
    // A port before it: the choice moves with its entry.
    ASSERT_TRUE(choice.Relist(Ports({L"COM1", L"COM3", L"COM5"}), false));
    EXPECT_EQ(choice.ChosenName(), L"COM5");
    // It goes: nothing is chosen, it is awaited.
    choice.Relist(Ports({L"COM1", L"COM3"}), false);
    EXPECT_EQ(choice.Chosen(), -1);
    EXPECT_TRUE(choice.Awaiting());
    // Another port comes: still nothing chosen on the user's behalf.
    choice.Relist(Ports({L"COM1", L"COM3", L"COM7"}), false);
    EXPECT_EQ(choice.Chosen(), -1);
    // It comes back: chosen again, the wait over.
    choice.Relist(Ports({L"COM1", L"COM3", L"COM5", L"COM7"}), false);
    EXPECT_EQ(choice.ChosenName(), L"COM5");
    EXPECT_FALSE(choice.Awaiting());
}

TEST(PortChoice, NothingIsChosenForTheUserAfterStartUp)
{
    TPortChoice choice;
    choice.Start(Ports({}), L"COM9", 0);
    choice.Relist(Ports({L"COM4"}), false);
    EXPECT_EQ(choice.Chosen(), -1);

    // A wait that ended: the port coming back is not chosen any more.
    choice.Pick(0);
    choice.Relist(Ports({}), false);
    choice.EndWait();
    choice.Relist(Ports({L"COM4"}), false);
    EXPECT_EQ(choice.Chosen(), -1);

    // A pick of the user's own ends a wait.
    choice.Pick(0);
    choice.Relist(Ports({L"COM2"}), false);
    choice.Pick(0);
    choice.Relist(Ports({L"COM2", L"COM4"}), false);
    EXPECT_EQ(choice.ChosenName(), L"COM2");
}

TEST(PortChoice, NothingChangesWhileTheListIsDroppedDown)
{
    TPortChoice choice;
    choice.Start(Ports({L"COM1", L"COM2"}), L"", 0);
    EXPECT_FALSE(choice.Relist(Ports({L"COM2"}), true));
    EXPECT_EQ(choice.Entries().size(), 2u);
    EXPECT_EQ(choice.ChosenName(), L"COM1");
    EXPECT_TRUE(choice.TakeRelistDue());
    EXPECT_FALSE(choice.TakeRelistDue());
}

} // namespace
