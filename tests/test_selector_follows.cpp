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

// A port of the machine: a legacy UART, or a board on a USB adapter plugged
// into a socket (its USB location), with its serial number (none when empty).
struct Port {
    QString name;
    QString location;
    QByteArray serial;
};

Port Uart(const QString& name)
{
    return {name, {}, {}};
}

Port Usb(const QString& name, const QString& location, const QByteArray& serial = {})
{
    return {name, location, serial};
}

// The machine's ports, a tree of the test's own made the default source.
class Machine : public SysfsTree {
public:
    explicit Machine(const std::vector<Port>& ports)
    {
        Device("platform/serial8250", "platform", "serial8250");
        for (const Port& port : ports)
            Plug(port);
        previous_ = DefaultPortSource();
        SetDefaultPortSource(Source());
    }
    ~Machine() { SetDefaultPortSource(previous_); }

    // A legacy port needs its UART type to be listed. A USB socket holds
    // one board at a time: what was plugged there before is gone.
    void Plug(const Port& port)
    {
        if (port.location.isEmpty()) {
            Tty(port.name, "platform/serial8250", port.name.startsWith("ttyS") ? 4 : -1);
            return;
        }
        const QString usb = "usb1/" + port.location;
        QDir(Path("devices/" + usb)).removeRecursively();
        UsbDevice(usb, "0403", "6001", "ftdi_sio");
        if (!port.serial.isEmpty())
            Attribute(usb, "serial", port.serial + "\n");
        const QString serialPort = usb + "/" + port.location + ":1.0/" + port.name;
        Device(serialPort, "usb-serial", "ftdi_sio");
        Tty(port.name, serialPort);
    }
    void Plug(const QString& name) { Plug(Uart(name)); }
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

// A user's pick of an entry, as the drop-down list reports it.
void PickEntry(TComComboBox& box, const QString& text)
{
    const int index = box.findText(text);
    ASSERT_GE(index, 0) << "no entry " << text.toStdString();
    box.setCurrentIndex(index);
    emit box.activated(index);
}

// One change of the ports, or a pick by the user, and the ports listed
// once the selector has seen it.
struct Step {
    std::function<void(Machine&, TComComboBox&)> act;
    QStringList listed;
};

Step Plugged(const Port& port, const QStringList& listed)
{
    return {[port](Machine& m, TComComboBox&) { m.Plug(port); }, listed};
}

Step Unplugged(const QString& name, const QStringList& listed)
{
    return {[name](Machine& m, TComComboBox&) { m.Unplug(name); }, listed};
}

Step Picked(const QString& name, const QStringList& listed)
{
    return {[name](Machine&, TComComboBox& box) { PickEntry(box, "/dev/" + name); }, listed};
}

struct FollowCase {
    const char* what;
    std::vector<Port> before;
    const char* chosen;
    std::vector<Step> steps;
    const char* chosenAfter;
};

const FollowCase FollowCases[] = {
    {"a port arrives, the choice stays", {Uart("ttyS0"), Usb("ttyUSB1", "1-1", "A")}, "/dev/ttyUSB1",
     {Plugged(Usb("ttyACM0", "1-2", "B"), {"ttyACM0", "ttyS0", "ttyUSB1"})}, "/dev/ttyUSB1"},
    {"another port goes, the choice stays", {Uart("ttyS0"), Usb("ttyUSB1", "1-1", "A"), Usb("ttyACM0", "1-2", "B")},
     "/dev/ttyUSB1", {Unplugged("ttyACM0", {"ttyS0", "ttyUSB1"})}, "/dev/ttyUSB1"},
    {"the chosen port goes, nothing else is chosen", {Uart("ttyS0"), Usb("ttyUSB1", "1-1", "A")}, "/dev/ttyUSB1",
     {Unplugged("ttyUSB1", {"ttyS0"})}, ""},
    {"a board plugged into an empty list is left to the user", {}, "",
     {Plugged(Usb("ttyUSB0", "1-1", "A"), {"ttyUSB0"})}, ""},
    {"a board that resets is chosen again", {Uart("ttyS0"), Usb("ttyUSB1", "1-1", "A")}, "/dev/ttyUSB1",
     {Unplugged("ttyUSB1", {"ttyS0"}), Plugged(Usb("ttyUSB1", "1-1", "A"), {"ttyS0", "ttyUSB1"})}, "/dev/ttyUSB1"},
    {"a built-in port that returns is chosen again by its name", {Uart("ttyS0"), Uart("ttyS1")}, "/dev/ttyS1",
     {Unplugged("ttyS1", {"ttyS0"}), Plugged(Uart("ttyS1"), {"ttyS0", "ttyS1"})}, "/dev/ttyS1"},
    {"with the chosen board gone, a port that arrives is not chosen", {Uart("ttyS0"), Usb("ttyUSB1", "1-1", "A")},
     "/dev/ttyUSB1",
     {Unplugged("ttyUSB1", {"ttyS0"}), Plugged(Usb("ttyACM0", "1-2", "B"), {"ttyACM0", "ttyS0"})}, ""},
    {"with the chosen board gone, another port that goes chooses nothing",
     {Uart("ttyS0"), Usb("ttyUSB0", "1-2", "B"), Usb("ttyUSB1", "1-1", "A")}, "/dev/ttyUSB1",
     {Unplugged("ttyUSB1", {"ttyS0", "ttyUSB0"}), Unplugged("ttyUSB0", {"ttyS0"})}, ""},
    {"the same board back under another name is chosen", {Uart("ttyS0"), Usb("ttyUSB0", "1-1", "A")}, "/dev/ttyUSB0",
     {Unplugged("ttyUSB0", {"ttyS0"}), Plugged(Usb("ttyUSB1", "1-3", "A"), {"ttyS0", "ttyUSB1"})}, "/dev/ttyUSB1"},
    {"another board under the old name is not chosen", {Uart("ttyS0"), Usb("ttyUSB0", "1-1", "A")}, "/dev/ttyUSB0",
     {Unplugged("ttyUSB0", {"ttyS0"}), Plugged(Usb("ttyUSB0", "1-1", "B"), {"ttyS0", "ttyUSB0"})}, ""},
    {"without serial numbers, the board back in its socket is chosen under another name",
     {Uart("ttyS0"), Usb("ttyUSB0", "1-1")}, "/dev/ttyUSB0",
     {Unplugged("ttyUSB0", {"ttyS0"}), Plugged(Usb("ttyUSB1", "1-1"), {"ttyS0", "ttyUSB1"})}, "/dev/ttyUSB1"},
    {"the user's pick replaces the board that went", {Uart("ttyS0"), Usb("ttyUSB1", "1-1", "A")}, "/dev/ttyUSB1",
     {Unplugged("ttyUSB1", {"ttyS0"}), Picked("ttyS0", {"ttyS0"}),
      Plugged(Usb("ttyUSB1", "1-1", "A"), {"ttyS0", "ttyUSB1"})},
     "/dev/ttyS0"},
    {"a board the user picked is chosen again when it returns", {Uart("ttyS0"), Usb("ttyUSB1", "1-1", "A")},
     "/dev/ttyS0",
     {Picked("ttyUSB1", {"ttyS0", "ttyUSB1"}), Unplugged("ttyUSB1", {"ttyS0"}),
      Plugged(Usb("ttyUSB2", "1-1", "A"), {"ttyS0", "ttyUSB2"})},
     "/dev/ttyUSB2"},
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
    for (const Step& step : c.steps) {
        step.act(machine, box);
        ExpectListed(box, step.listed);
    }
    // Late reports of the same changes must not move the choice either.
    RunEventsFor(300);
    EXPECT_EQ(Items(box), Devices(c.steps.back().listed));
    EXPECT_EQ(box.Text(), c.chosenAfter) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Changes, SelectorFollowsTable, testing::ValuesIn(FollowCases),
                         [](const testing::TestParamInfo<FollowCase>& info) { return std::to_string(info.index); });

TEST(SelectorFollows, ChosenPortThatReturnsIsChosenWhateverArrivedMeanwhile)
{
    Machine machine({Uart("ttyS0"), Usb("ttyUSB1", "1-1", "A")});
    TComComboBox box;
    box.SetComProperty(cpPort);
    box.SetText("/dev/ttyUSB1");
    machine.Unplug("ttyUSB1");
    ExpectListed(box, {"ttyS0"});
    EXPECT_EQ(box.Text(), "");
    machine.Plug(Usb("ttyACM0", "1-2", "B"));
    ExpectListed(box, {"ttyACM0", "ttyS0"});
    EXPECT_EQ(box.Text(), "") << "nothing else is chosen while the board is away";
    machine.Plug(Usb("ttyUSB1", "1-1", "A"));
    ExpectListed(box, {"ttyACM0", "ttyS0", "ttyUSB1"});
    EXPECT_EQ(box.Text(), "/dev/ttyUSB1");
}

TEST(SelectorFollows, NothingChangesWhileTheListIsDroppedDown)
{
    Machine machine({Uart("ttyS0"), Usb("ttyUSB1", "1-1", "A")});
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
    Machine machine({Uart("ttyS0")});
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
    Machine machine({Uart("ttyS0")});
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

TPortDetails Listed(const QString& name, const QString& serial, const QString& location, int vendor = 0x0403)
{
    TPortDetails port;
    port.Name = name;
    port.SerialNumber = serial;
    port.Location = location;
    port.VendorId = vendor;
    return port;
}

// Which entry is the port chosen before, among ports the table gives.
struct FindCase {
    const char* what;
    TPortDetails chosen;
    QList<TPortDetails> listed;
    int row;
};

TEST(SelectorFollows, ChosenPortIsFoundByWhatIsBehindIt)
{
    const FindCase cases[] = {
        {"the same serial number under another name", Listed("/dev/ttyUSB0", "A", "1-1"),
         {Listed("/dev/ttyS0", "", ""), Listed("/dev/ttyUSB3", "A", "1-4")}, 1},
        {"the same serial number of another maker", Listed("/dev/ttyUSB0", "A", "1-1"),
         {Listed("/dev/ttyUSB0", "A", "1-1", 0x10c4)}, -1},
        {"one adapter with two ports, by the name", Listed("/dev/ttyUSB1", "A", "1-1"),
         {Listed("/dev/ttyUSB0", "A", "1-1"), Listed("/dev/ttyUSB1", "A", "1-1")}, 1},
        {"one adapter with two ports under new names", Listed("/dev/ttyUSB1", "A", "1-1"),
         {Listed("/dev/ttyUSB2", "A", "1-1"), Listed("/dev/ttyUSB3", "A", "1-1")}, -1},
        {"a socket without serial numbers", Listed("/dev/ttyACM0", "", "1-1"),
         {Listed("/dev/ttyACM0", "", "1-2"), Listed("/dev/ttyACM1", "", "1-1")}, 1},
        {"nothing known but the name, in another case", Listed("/dev/ttyS1", "", "", -1),
         {Listed("/dev/ttys1", "", "", -1)}, 0},
    };
    for (const FindCase& c : cases) {
        TPortItemModel model;
        model.SetPorts(c.listed);
        QStringList names;
        for (const TPortDetails& port : c.listed)
            names << port.Name;
        model.setStringList(names);
        EXPECT_EQ(model.RowOfPort(c.chosen), c.row) << c.what;
    }
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
    TPortDetails adapter;
    adapter.Name = "/dev/ttyUSB0";
    adapter.Description = "FT232R USB UART";
    model.SetPorts({adapter});
    model.setStringList({"/dev/ttyUSB0", "/dev/ttyS0"});
    EXPECT_TRUE(DrawsAfterTheName(model.index(0, 0)));
    EXPECT_FALSE(DrawsAfterTheName(model.index(1, 0)));
}

} // namespace
