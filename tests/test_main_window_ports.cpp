// The main window lists a board plugged in after it opened, and chooses
// none for the user once it is open.
#include "ComComboBox.h"
#include "EventWait.h"
#include "SysfsTree.h"
#include "TForm1.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

TEST(MainWindowPorts, BoardPluggedInAfterTheWindowOpenedIsListed)
{
    SysfsTree machine;
    machine.Device("platform/serial8250", "platform", "serial8250");
    machine.Tty("ttyS0", "platform/serial8250", 4);
    const TPortSource previous = DefaultPortSource();
    SetDefaultPortSource(machine.Source());
    {
        TForm1 form;
        form.show();
        auto* ports = form.findChild<TComComboBox*>("ComboBox2");
        ASSERT_NE(ports, nullptr) << "no port selector";
        ASSERT_EQ(ports->count(), 1);
        machine.UsbDevice("usb1/1-1", "0403", "6001", "ftdi_sio");
        machine.Device("usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
        machine.Tty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0");
        EXPECT_TRUE(RunEventsUntil([&] { return ports->count() == 2; }, 3000))
            << "the board plugged in is not listed";
        EXPECT_EQ(ports->itemText(1), "/dev/ttyUSB0");
        EXPECT_EQ(ports->Text(), "/dev/ttyS0") << "the choice made when the window opened stays";
    }
    SetDefaultPortSource(previous);
}

// A board on a USB adapter in socket 1-<socket>, known by its serial number.
void PlugBoard(SysfsTree& machine, const QString& name, int socket, const QByteArray& serial)
{
    const QString usb = "usb1/1-" + QString::number(socket);
    QDir(machine.Path("devices/" + usb)).removeRecursively();
    machine.UsbDevice(usb, "0403", "6001", "ftdi_sio");
    machine.Attribute(usb, "serial", serial + "\n");
    const QString port = usb + "/" + usb.section('/', -1) + ":1.0/" + name;
    machine.Device(port, "usb-serial", "ftdi_sio");
    machine.Tty(name, port);
}

class MainWindowChoice : public testing::Test {
protected:
    MainWindowChoice() : previous_(DefaultPortSource()) { SetDefaultPortSource(machine.Source()); }
    ~MainWindowChoice() override { SetDefaultPortSource(previous_); }

    SysfsTree machine;

private:
    TPortSource previous_;
};

// FLASH then passes the empty port, as with no port at all.
TEST_F(MainWindowChoice, BoardPluggedInAfterTheWindowOpenedIsLeftToTheUser)
{
    TForm1 form;
    auto* ports = form.findChild<TComComboBox*>("ComboBox2");
    ASSERT_NE(ports, nullptr) << "no port selector";
    ASSERT_EQ(ports->count(), 0);
    PlugBoard(machine, "ttyUSB0", 1, "A");
    ASSERT_TRUE(RunEventsUntil([&] { return ports->count() == 1; }, 3000)) << "the board plugged in is not listed";
    EXPECT_EQ(ports->Text(), "") << "a board the user did not pick is chosen";
    EXPECT_EQ(ports->currentIndex(), -1);
}

TEST_F(MainWindowChoice, BoardChosenAtStartIsChosenAgainUnderItsNewName)
{
    PlugBoard(machine, "ttyUSB0", 1, "A");
    TForm1 form;
    auto* ports = form.findChild<TComComboBox*>("ComboBox2");
    ASSERT_NE(ports, nullptr) << "no port selector";
    ASSERT_EQ(ports->Text(), "/dev/ttyUSB0");
    machine.RemoveTty("ttyUSB0");
    ASSERT_TRUE(RunEventsUntil([&] { return ports->count() == 0; }, 3000)) << "the board unplugged is still listed";
    PlugBoard(machine, "ttyUSB1", 2, "B");
    ASSERT_TRUE(RunEventsUntil([&] { return ports->count() == 1; }, 3000)) << "another board is not listed";
    EXPECT_EQ(ports->Text(), "") << "another board is chosen";
    PlugBoard(machine, "ttyUSB2", 1, "A");
    ASSERT_TRUE(RunEventsUntil([&] { return ports->count() == 2; }, 3000)) << "the board back is not listed";
    EXPECT_EQ(ports->Text(), "/dev/ttyUSB2") << "the board chosen at start is not chosen again";
}

} // namespace
