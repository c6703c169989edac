// Port details over trees shaped like the kernel's device tree for the
// adapters and ports people meet.
#include "ComPortDetails.h"
#include "SysfsTree.h"

#include <QRegularExpression>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

constexpr char Pci[] = "pci0000:00/0000:00:14.0";

// The machine every case of the table reads: one of each shape.
void BuildMachine(SysfsTree& tree)
{
    const QString usb1 = QString(Pci) + "/usb1";
    // An FTDI adapter: the tty hangs on a usb-serial port below the interface.
    tree.UsbDevice(usb1 + "/1-1/1-1.2", "0403", "6001", "ftdi_sio");
    tree.Attribute(usb1 + "/1-1/1-1.2", "manufacturer", "FTDI\n");
    tree.Attribute(usb1 + "/1-1/1-1.2", "product", "FT232R USB UART\n");
    tree.Attribute(usb1 + "/1-1/1-1.2", "serial", "A50285BI\n");
    tree.Device(usb1 + "/1-1/1-1.2/1-1.2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    tree.Tty("ttyUSB0", usb1 + "/1-1/1-1.2/1-1.2:1.0/ttyUSB0");
    // A CH340: no maker, no serial number, upper-case hex.
    tree.UsbDevice(usb1 + "/1-1/1-1.3", "1A86", "7523", "ch341");
    tree.Attribute(usb1 + "/1-1/1-1.3", "product", "USB Serial\n");
    tree.Device(usb1 + "/1-1/1-1.3/1-1.3:1.0/ttyUSB1", "usb-serial", "ch341-uart");
    tree.Tty("ttyUSB1", usb1 + "/1-1/1-1.3/1-1.3:1.0/ttyUSB1");
    // A CDC-ACM board: the tty hangs on the interface itself.
    tree.UsbDevice(usb1 + "/1-2", "2341", "0043", "cdc_acm");
    tree.Attribute(usb1 + "/1-2", "manufacturer", "Arduino (www.arduino.cc)\n");
    tree.Attribute(usb1 + "/1-2", "serial", "75833353035351F0A1B1\n");
    tree.Tty("ttyACM0", usb1 + "/1-2/1-2:1.0");
    // A CP210x with a serial number, on another bus.
    tree.UsbDevice("usb2/2-1", "10c4", "ea60", "cp210x");
    tree.Attribute("usb2/2-1", "manufacturer", "Silicon Labs\n");
    tree.Attribute("usb2/2-1", "product", "CP2102 USB to UART Bridge Controller\n");
    tree.Attribute("usb2/2-1", "serial", "0001\n");
    tree.Device("usb2/2-1/2-1:1.0/ttyUSB2", "usb-serial", "cp210x");
    tree.Tty("ttyUSB2", "usb2/2-1/2-1:1.0/ttyUSB2");
    // A built-in UART and a ghost legacy one the kernel reserves.
    tree.Device("pnp0/00:04", "pnp", "serial");
    tree.Tty("ttyS0", "pnp0/00:04", 4);
    tree.Device("platform/serial8250", "platform", "serial8250");
    tree.Tty("ttyS1", "platform/serial8250", 0);
    // A built-in UART as newer kernels show it, behind the serial core's
    // own port and controller devices.
    tree.Device("pnp0/00:00", "pnp", "serial");
    tree.Device("pnp0/00:00/00:00:0", "serial-base", "ctrl");
    tree.Device("pnp0/00:00/00:00:0/00:00:0.0", "serial-base", "port");
    tree.Tty("ttyS3", "pnp0/00:00/00:00:0/00:00:0.0", 4);
    tree.Tty("ttyS2", "platform/serial8250", 4);
    // A Bluetooth link: its tty hangs on the controller below a USB adapter
    // whose ids are not the link's.
    tree.UsbDevice(usb1 + "/1-4", "8087", "0a2b", "btusb");
    tree.Attribute(usb1 + "/1-4", "manufacturer", "Intel Corp.\n");
    tree.Device(usb1 + "/1-4/1-4:1.0/bluetooth/hci0", "bluetooth");
    tree.Tty("rfcomm0", usb1 + "/1-4/1-4:1.0/bluetooth/hci0");
    // Broken entries: every attribute odd, and a link to nowhere.
    tree.UsbDevice("usb3/3-1", "zz12", "12345", "ftdi_sio");
    tree.Attribute("usb3/3-1", "manufacturer", QByteArray(4096, 'M') + "\n");
    tree.Attribute("usb3/3-1", "product", "two\nlines\n");
    tree.Attribute("usb3/3-1", "serial", "\xff\xfe\x41\n");
    tree.Device("usb3/3-1/3-1:1.0/ttyUSB3", "usb-serial", "ftdi_sio");
    tree.Tty("ttyUSB3", "usb3/3-1/3-1:1.0/ttyUSB3");
    tree.Tty("ttyUSB4", "usb3/gone/ttyUSB4");
    // Adapters whose other strings read well but whose product string does
    // not: as long as the kernel lets an attribute be, on several lines, and
    // not UTF-8 (a Latin-1 "é").
    const QByteArray unreadable[] = {QByteArray(4095, 'P'), "Serial\nAdapter\n", "Adapt\xe9 s\xe9rie\n"};
    for (int i = 0; i < 3; ++i) {
        const QString usb = QString("usb4/4-%1").arg(i + 1);
        const QString tty = QString("ttyUSB%1").arg(i + 5);
        tree.UsbDevice(usb, "067b", "2303", "pl2303");
        tree.Attribute(usb, "manufacturer", "Prolific Technology Inc.\n");
        tree.Attribute(usb, "product", unreadable[i]);
        tree.Attribute(usb, "serial", QByteArray::number(i + 1) + "\n");
        tree.Device(usb + "/" + usb.section('/', -1) + ":1.0/" + tty, "usb-serial", "pl2303");
        tree.Tty(tty, usb + "/" + usb.section('/', -1) + ":1.0/" + tty);
    }
}

struct DetailsCase {
    const char* what;
    TPortDetails expected;
};

const DetailsCase Cases[] = {
    {"FTDI adapter", {"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A50285BI", 0x0403, 0x6001, "1-1.2", "ftdi_sio"}},
    {"CH340", {"/dev/ttyUSB1", "USB Serial", "", "", 0x1a86, 0x7523, "1-1.3", "ch341-uart"}},
    {"CDC-ACM board without a product string",
     {"/dev/ttyACM0", "", "Arduino (www.arduino.cc)", "75833353035351F0A1B1", 0x2341, 0x0043, "1-2",
      "cdc_acm"}},
    {"CP210x with a serial number",
     {"/dev/ttyUSB2", "CP2102 USB to UART Bridge Controller", "Silicon Labs", "0001", 0x10c4, 0xea60, "2-1", "cp210x"}},
    {"built-in UART", {"/dev/ttyS0", "", "", "", -1, -1, "", "serial"}},
    {"built-in UART behind the serial core", {"/dev/ttyS3", "", "", "", -1, -1, "", "serial"}},
    {"legacy UART that is there", {"/dev/ttyS2", "", "", "", -1, -1, "", "serial8250"}},
    {"Bluetooth link, not its adapter", {"/dev/rfcomm0", "", "", "", -1, -1, "", "rfcomm"}},
    {"odd attributes", {"/dev/ttyUSB3", "", "", "", -1, -1, "3-1", "ftdi_sio"}},
    {"device link to nowhere", {"/dev/ttyUSB4", "", "", "", -1, -1, "", ""}},
    {"product string too long",
     {"/dev/ttyUSB5", "", "Prolific Technology Inc.", "1", 0x067b, 0x2303, "4-1", "pl2303"}},
    {"product string on several lines",
     {"/dev/ttyUSB6", "", "Prolific Technology Inc.", "2", 0x067b, 0x2303, "4-2", "pl2303"}},
    {"product string not UTF-8",
     {"/dev/ttyUSB7", "", "Prolific Technology Inc.", "3", 0x067b, 0x2303, "4-3", "pl2303"}},
};

void PrintTo(const DetailsCase& c, std::ostream* os)
{
    *os << c.what;
}

class PortDetailsTable : public testing::TestWithParam<DetailsCase> {
protected:
    static void SetUpTestSuite()
    {
        tree = new SysfsTree;
        BuildMachine(*tree);
        GetComPortDetails(ports, tree->Source());
    }
    static void TearDownTestSuite()
    {
        delete tree;
        tree = nullptr;
    }
    static inline SysfsTree* tree = nullptr;
    static inline QList<TPortDetails> ports;
};

TEST_P(PortDetailsTable, FieldsReadFromTheTree)
{
    const TPortDetails& want = GetParam().expected;
    const auto found = std::find_if(ports.begin(), ports.end(), [&](const TPortDetails& p) { return p.Name == want.Name; });
    ASSERT_NE(found, ports.end()) << want.Name.toStdString() << " is not listed";
    EXPECT_EQ(found->Description, want.Description);
    EXPECT_EQ(found->Manufacturer, want.Manufacturer);
    EXPECT_EQ(found->SerialNumber, want.SerialNumber);
    EXPECT_EQ(found->VendorId, want.VendorId);
    EXPECT_EQ(found->ProductId, want.ProductId);
    EXPECT_EQ(found->Location, want.Location);
    EXPECT_EQ(found->Driver, want.Driver);
}

INSTANTIATE_TEST_SUITE_P(Shapes, PortDetailsTable, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<DetailsCase>& info) {
                             QString name = QString::fromUtf8(info.param.what);
                             name.replace(QRegularExpression("[^A-Za-z0-9]"), "_");
                             return name.toStdString();
                         });

TEST(PortDetails, SameNamesInTheSameOrderAsTheBareList)
{
    SysfsTree tree;
    BuildMachine(tree);
    QStringList names;
    GetComPortNames(names, tree.Source());
    QList<TPortDetails> ports;
    GetComPortDetails(ports, tree.Source());
    QStringList detailNames;
    for (const TPortDetails& port : ports)
        detailNames.append(port.Name);
    EXPECT_EQ(detailNames, names);
    EXPECT_FALSE(names.contains("/dev/ttyS1")) << "the ghost legacy UART is not a port";
    EXPECT_EQ(names.size(), 13);
}

TEST(PortDetails, UnreadableSourceLeavesTheListAsItWas)
{
    QList<TPortDetails> ports{TPortDetails{"keep me", "as it was", {}, {}, 1, 2, {}, {}}};
    GetComPortDetails(ports, TPortSource{"/nonexistent/class/tty", "/dev"});
    ASSERT_EQ(ports.size(), 1);
    EXPECT_EQ(ports[0].Name, "keep me");
    EXPECT_EQ(ports[0].Description, "as it was");
}

struct TextCase {
    const char* description;
    const char* manufacturer;
    int vendorId;
    const char* location;
    const char* driver;
    const char* text;
};

// The label for a port that gave no description is the display's own, from
// what is known of the port; a description read from the device always wins.
TEST(PortDetails, TextShownBesideTheName)
{
    const TextCase cases[] = {
        {"FT232R USB UART", "FTDI", 0x0403, "1-1.2", "ftdi_sio", "FT232R USB UART \u2014 FTDI"},
        {"USB Serial", "", 0x1a86, "1-1.3", "ch341-uart", "USB Serial"},
        {"", "Silicon Labs", -1, "", "", "Silicon Labs"},
        {"Arduino Uno", "Arduino", 0x2341, "1-2", "cdc_acm", "Arduino Uno"},
        {"", "", -1, "", "", ""},
        {"", "Arduino (www.arduino.cc)", 0x2341, "1-2", "cdc_acm", "USB serial port \u2014 Arduino (www.arduino.cc)"},
        {"", "", 0x067b, "4-1", "pl2303", "USB serial port"},
        {"", "", -1, "", "serial", "Built-in serial port"},
        {"", "", -1, "", "rfcomm", "Bluetooth link"},
        {"", "", -1, "3-1", "ftdi_sio", ""},
        {"Communications Port", "", -1, "", "Serial", "Communications Port"},
    };
    for (const TextCase& c : cases) {
        TPortDetails port;
        port.Description = QString::fromUtf8(c.description);
        port.Manufacturer = QString::fromUtf8(c.manufacturer);
        port.VendorId = c.vendorId;
        port.Location = QString::fromUtf8(c.location);
        port.Driver = QString::fromUtf8(c.driver);
        EXPECT_EQ(PortDetailsText(port), QString::fromUtf8(c.text))
            << c.description << " / " << c.manufacturer << " / " << c.driver;
    }
}

} // namespace
