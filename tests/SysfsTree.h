#pragma once

// A tree shaped like the kernel's device tree, built by a test: devices with
// their attribute files, subsystem and driver links, and the tty class
// directory whose entries link to them.

#include "ComPortNames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

class SysfsTree {
public:
    SysfsTree()
    {
        EXPECT_TRUE(root_.isValid()) << "cannot make a temporary directory";
        QDir(root_.path()).mkpath("class/tty");
        QDir(root_.path()).mkpath("staging");
    }

    QString Path(const QString& relative) const { return root_.path() + "/" + relative; }
    QString Listing() const { return Path("class/tty"); }
    TPortSource Source() const { return TPortSource{Listing(), "/dev"}; }

    // A device folder under devices/ in a subsystem, bound to a driver
    // (none when empty).
    void Device(const QString& path, const QString& subsystem, const QString& driver = {})
    {
        const QString dir = Path("devices/" + path);
        ASSERT_TRUE(QDir().mkpath(dir)) << dir.toStdString();
        QDir().mkpath(Path("bus/" + subsystem + "/drivers"));
        ASSERT_TRUE(QFile::link(Path("bus/" + subsystem), dir + "/subsystem"));
        if (driver.isEmpty())
            return;
        QDir().mkpath(Path("bus/" + subsystem + "/drivers/" + driver));
        ASSERT_TRUE(QFile::link(Path("bus/" + subsystem + "/drivers/" + driver), dir + "/driver"));
    }

    void Attribute(const QString& devicePath, const QString& name, const QByteArray& content)
    {
        QFile file(Path("devices/" + devicePath + "/" + name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << file.fileName().toStdString();
        file.write(content);
    }

    // A USB device with its ids (and the other attributes given) and one
    // interface ("<path>:1.0") bound to interfaceDriver.
    void UsbDevice(const QString& path, const QByteArray& vendor, const QByteArray& product,
                   const QString& interfaceDriver)
    {
        Device(path, "usb", "usb");
        Attribute(path, "idVendor", vendor + "\n");
        Attribute(path, "idProduct", product + "\n");
        const QString interface = path + "/" + path.section('/', -1) + ":1.0";
        Device(interface, "usb", interfaceDriver);
        Attribute(interface, "bInterfaceNumber", "00\n");
    }

    // A tty class entry whose device link points at devices/<devicePath>
    // (dangling when there is none), made aside and moved in whole, as a
    // watcher should see it arrive. A legacy port's UART type when given.
    void Tty(const QString& name, const QString& devicePath, int uartType = -1)
    {
        const QString staged = Path("staging/" + name);
        ASSERT_TRUE(QDir().mkpath(staged));
        ASSERT_TRUE(QFile::link(Path("devices/" + devicePath), staged + "/device"));
        if (uartType >= 0) {
            QFile type(staged + "/type");
            ASSERT_TRUE(type.open(QIODevice::WriteOnly));
            type.write(QByteArray::number(uartType) + "\n");
        }
        ASSERT_TRUE(QDir().rename(staged, Listing() + "/" + name)) << name.toStdString();
    }

    void RemoveTty(const QString& name)
    {
        ASSERT_TRUE(QDir(Listing() + "/" + name).removeRecursively()) << name.toStdString();
    }

private:
    QTemporaryDir root_;
};
