// Port enumeration over sysfs trees built by the tests.
#include "ComPortNames.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A tty class directory: each entry a folder, serial ones with a device link.
class FakeSysfs {
public:
    FakeSysfs()
    {
        EXPECT_TRUE(root.isValid());
        QDir(root.path()).mkpath("class/tty");
        QDir(root.path()).mkpath("devices/serial0");
    }

    void Add(const QString& name, bool serial, int uartType = -1)
    {
        const QString entry = Dir() + "/" + name;
        QDir().mkpath(entry);
        if (serial)
            QFile::link(root.path() + "/devices/serial0", entry + "/device");
        if (uartType >= 0) {
            QFile type(entry + "/type");
            ASSERT_TRUE(type.open(QIODevice::WriteOnly));
            type.write(QByteArray::number(uartType) + "\n");
        }
    }

    QString Dir() const { return root.path() + "/class/tty"; }
    TPortSource Source() const { return TPortSource{Dir(), "/dev"}; }

    QTemporaryDir root;
};

TEST(PortNames, SerialDevicesSortedAsTextIgnoringCase)
{
    FakeSysfs sysfs;
    sysfs.Add("ttyUSB0", true);
    sysfs.Add("ttyS10", true, 4);
    sysfs.Add("ttyS2", true, 4);
    sysfs.Add("ttyS1", true, 4);
    sysfs.Add("ttyACM0", true);
    sysfs.Add("tty0", false);
    sysfs.Add("console", false);
    QStringList ports{"stale"};
    GetComPortNames(ports, sysfs.Source());
    EXPECT_EQ(ports, QStringList({"/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyS10", "/dev/ttyS2", "/dev/ttyUSB0"}));
}

TEST(PortNames, LegacyPortsWithoutAUartAreLeftOut)
{
    FakeSysfs sysfs;
    sysfs.Add("ttyS0", true, 4);
    sysfs.Add("ttyS1", true, 0);
    sysfs.Add("ttyS2", true);
    QStringList ports;
    GetComPortNames(ports, sysfs.Source());
    EXPECT_EQ(ports, QStringList{"/dev/ttyS0"});
}

TEST(PortNames, WindowsLikeNamesSortAsText)
{
    QStringList names{"COM3", "COM1", "COM10", "com2", "COM2", "COM9"};
    SortPortNames(names);
    ASSERT_EQ(names.size(), 6);
    EXPECT_EQ(names[0], "COM1");
    EXPECT_EQ(names[1], "COM10");
    EXPECT_EQ(QSet<QString>(names.begin() + 2, names.begin() + 4), QSet<QString>({"com2", "COM2"}))
        << "names that differ only in case sort next to each other, both kept";
    EXPECT_EQ(names[4], "COM3");
    EXPECT_EQ(names[5], "COM9");
}

TEST(PortNames, EmptySourceEmptiesTheList)
{
    FakeSysfs sysfs;
    sysfs.Add("tty1", false);
    QStringList ports{"/dev/ttyS0"};
    GetComPortNames(ports, sysfs.Source());
    EXPECT_TRUE(ports.isEmpty());
}

TEST(PortNames, UnreadableSourceLeavesTheListAsItWas)
{
    QStringList ports{"/dev/ttyUSB7", "keep me"};
    GetComPortNames(ports, TPortSource{"/nonexistent/class/tty", "/dev"});
    EXPECT_EQ(ports, QStringList({"/dev/ttyUSB7", "keep me"}));
}

TEST(PortNames, NamesComeFromTheEntriesNotFromTheirContents)
{
    FakeSysfs sysfs;
    sysfs.Add("ttyUSB3", true);
    QFile name(sysfs.Dir() + "/ttyUSB3/name");
    ASSERT_TRUE(name.open(QIODevice::WriteOnly));
    name.write("usb-serial-adapter\n");
    name.close();
    QStringList ports;
    GetComPortNames(ports, TPortSource{sysfs.Dir(), "/devices"});
    EXPECT_EQ(ports, QStringList{"/devices/ttyUSB3"});
}

} // namespace
