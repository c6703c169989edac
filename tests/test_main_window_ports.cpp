// The main window lists a board plugged in after it opened.
#include "ComComboBox.h"
#include "EventWait.h"
#include "SysfsTree.h"
#include "TForm1.h"

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

} // namespace
