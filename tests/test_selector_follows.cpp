// The port selector on real widgets following ports that come and go, and
// showing what is behind each.
#include "ComComboBox.h"
#include "EventWait.h"
#include "PortItemDelegate.h"
#include "PortItemModel.h"
#include "SysfsTree.h"

#include <QAbstractItemView>
#include <QImage>
#include <QPainter>

#include <functional>

#include <gtest/gtest.h>

namespace {

// The machine's ports, a tree of the test's own made the default source.
class Machine : public SysfsTree {
public:
    explicit Machine(const QStringList& ports)
    {
        Device("platform/serial8250", "platform", "serial8250");
        for (const QString& name : ports)
            Plug(name);
        previous_ = DefaultPortSource();
        SetDefaultPortSource(Source());
    }
    ~Machine() { SetDefaultPortSource(previous_); }

    // A legacy port needs its UART type to be listed.
    void Plug(const QString& name) { Tty(name, "platform/serial8250", name.startsWith("ttyS") ? 4 : -1); }
    void Unplug(const QString& name) { RemoveTty(name); }

private:
    TPortSource previous_;
};

QStringList Items(const QComboBox& box)
{
    QStringList items;
    for (int i = 0; i < box.count(); ++i)
        items << box.itemText(i);
    return items;
}

QStringList Devices(const QStringList& names)
{
    QStringList devices;
    for (const QString& name : names)
        devices << "/dev/" + name;
    return devices;
}

// Waits (bounded) until the selector lists exactly the given ports.
void ExpectListed(const TComComboBox& box, const QStringList& names)
{
    const QStringList want = Devices(names);
    EXPECT_TRUE(RunEventsUntil([&] { return Items(box) == want; }, 3000))
        << "listed: " << Items(box).join(' ').toStdString() << "; expected: " << want.join(' ').toStdString();
}

struct FollowCase {
    const char* what;
    QStringList before;
    const char* chosen;
    std::function<void(Machine&)> change;
    QStringList after;
    const char* chosenAfter;
};

const FollowCase FollowCases[] = {
    {"a port arrives, the choice stays", {"ttyS0", "ttyUSB1"}, "/dev/ttyUSB1",
     [](Machine& m) { m.Plug("ttyACM0"); }, {"ttyACM0", "ttyS0", "ttyUSB1"}, "/dev/ttyUSB1"},
    {"another port goes, the choice stays", {"ttyS0", "ttyUSB1", "ttyACM0"}, "/dev/ttyUSB1",
     [](Machine& m) { m.Unplug("ttyACM0"); }, {"ttyS0", "ttyUSB1"}, "/dev/ttyUSB1"},
    {"the chosen port goes, nothing else is chosen", {"ttyS0", "ttyUSB1"}, "/dev/ttyUSB1",
     [](Machine& m) { m.Unplug("ttyUSB1"); }, {"ttyS0"}, ""},
    {"a board plugged into an empty list is chosen", {}, "", [](Machine& m) { m.Plug("ttyUSB0"); }, {"ttyUSB0"},
     "/dev/ttyUSB0"},
    {"a board that resets is chosen again", {"ttyS0", "ttyUSB1"}, "/dev/ttyUSB1",
     [](Machine& m) {
         m.Unplug("ttyUSB1");
         m.Plug("ttyUSB1");
     },
     {"ttyS0", "ttyUSB1"}, "/dev/ttyUSB1"},
};

void PrintTo(const FollowCase& c, std::ostream* os)
{
    *os << c.what;
}

class SelectorFollowsTable : public testing::TestWithParam<FollowCase> {};

TEST_P(SelectorFollowsTable, ListAndChoice)
{
    const FollowCase& c = GetParam();
    Machine machine(c.before);
    TComComboBox box;
    box.SetComProperty(cpPort);
    box.SetText(c.chosen);
    ASSERT_EQ(box.Text(), c.chosen);
    c.change(machine);
    ExpectListed(box, c.after);
    // Late reports of the same change must not move the choice either.
    RunEventsFor(300);
    EXPECT_EQ(Items(box), Devices(c.after));
    EXPECT_EQ(box.Text(), c.chosenAfter);
}

INSTANTIATE_TEST_SUITE_P(Changes, SelectorFollowsTable, testing::ValuesIn(FollowCases),
                         [](const testing::TestParamInfo<FollowCase>& info) { return std::to_string(info.index); });

TEST(SelectorFollows, ChosenPortThatReturnsWithinTheWaitIsChosenAgain)
{
    Machine machine({"ttyS0", "ttyUSB1"});
    TComComboBox box;
    box.SetComProperty(cpPort);
    box.SetText("/dev/ttyUSB1");
    machine.Unplug("ttyUSB1");
    ExpectListed(box, {"ttyS0"});
    EXPECT_EQ(box.Text(), "");
    machine.Plug("ttyACM0");
    ExpectListed(box, {"ttyACM0", "ttyS0"});
    EXPECT_EQ(box.Text(), "") << "nothing else is chosen while the board is waited for";
    machine.Plug("ttyUSB1");
    ExpectListed(box, {"ttyACM0", "ttyS0", "ttyUSB1"});
    EXPECT_EQ(box.Text(), "/dev/ttyUSB1");
}

TEST(SelectorFollows, ChosenPortIsForgottenAfterTheWait)
{
    Machine machine({"ttyS0", "ttyUSB1"});
    TComComboBox box;
    box.SetPortReturnWaitMs(100);
    box.SetComProperty(cpPort);
    box.SetText("/dev/ttyUSB1");
    machine.Unplug("ttyUSB1");
    ExpectListed(box, {"ttyS0"});
    RunEventsFor(400);
    machine.Plug("ttyUSB1");
    ExpectListed(box, {"ttyS0", "ttyUSB1"});
    EXPECT_EQ(box.Text(), "/dev/ttyS0") << "a list with nothing chosen starts at its first entry";
}

TEST(SelectorFollows, NothingChangesWhileTheListIsDroppedDown)
{
    Machine machine({"ttyS0", "ttyUSB1"});
    TComComboBox box;
    box.SetComProperty(cpPort);
    box.SetText("/dev/ttyUSB1");
    box.show();
    box.showPopup();
    ASSERT_TRUE(box.view()->isVisible()) << "the list did not drop down";
    machine.Unplug("ttyUSB1");
    machine.Plug("ttyACM0");
    RunEventsFor(700);
    EXPECT_EQ(Items(box), Devices({"ttyS0", "ttyUSB1"}));
    EXPECT_EQ(box.Text(), "/dev/ttyUSB1");
    box.hidePopup();
    ExpectListed(box, {"ttyACM0", "ttyS0"});
    EXPECT_EQ(box.Text(), "");
}

TEST(SelectorFollows, OtherPropertiesDoNotFollowPorts)
{
    Machine machine({"ttyS0"});
    TComComboBox box;
    box.SetComProperty(cpPort);
    box.SetComProperty(cpDataBits);
    machine.Plug("ttyUSB0");
    RunEventsFor(500);
    EXPECT_EQ(Items(box), QStringList({"5", "6", "7", "8"}));
}

// An FTDI adapter as the kernel shows it, for the entry's details.
void PlugFtdi(SysfsTree& tree)
{
    tree.UsbDevice("usb1/1-1", "0403", "6001", "ftdi_sio");
    tree.Attribute("usb1/1-1", "manufacturer", "FTDI\n");
    tree.Attribute("usb1/1-1", "product", "FT232R USB UART\n");
    tree.Device("usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    tree.Tty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0");
}

TEST(SelectorFollows, EntriesShowTheDetailsAfterTheBareName)
{
    Machine machine({"ttyS0"});
    PlugFtdi(machine);
    TComComboBox box;
    box.SetComProperty(cpPort);
    box.SetText("/dev/ttyUSB0");
    EXPECT_EQ(box.Text(), "/dev/ttyUSB0");
    EXPECT_EQ(box.currentText(), "/dev/ttyUSB0");
    const QModelIndex usb = box.model()->index(1, 0);
    EXPECT_EQ(usb.data(Qt::DisplayRole).toString(), "/dev/ttyUSB0");
    EXPECT_EQ(usb.data(PortDetailsRole).toString(), QString::fromUtf8("FT232R USB UART \u2014 FTDI"));
    EXPECT_EQ(box.model()->index(0, 0).data(PortDetailsRole).toString(), "Built-in serial port");
}

// Paints one entry and tells whether anything was drawn right of its name.
bool DrawsAfterTheName(const QModelIndex& index)
{
    TPortItemDelegate delegate;
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 600, 20);
    option.font = QFont();
    option.palette.setColor(QPalette::Base, Qt::white);
    option.palette.setColor(QPalette::Text, Qt::black);
    QImage image(600, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        delegate.paint(&painter, option, index);
    }
    const int nameEnd = QFontMetrics(option.font).horizontalAdvance(index.data().toString()) + 20;
    for (int x = nameEnd; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (image.pixel(x, y) != QColor(Qt::white).rgb())
                return true;
        }
    }
    return false;
}

TEST(SelectorFollows, DelegateDrawsTheDetailsInALighterText)
{
    TPortItemModel model;
    model.SetDetails({{"/dev/ttyUSB0", "FT232R USB UART"}});
    model.setStringList({"/dev/ttyUSB0", "/dev/ttyS0"});
    EXPECT_TRUE(DrawsAfterTheName(model.index(0, 0)));
    EXPECT_FALSE(DrawsAfterTheName(model.index(1, 0)));
}

} // namespace
