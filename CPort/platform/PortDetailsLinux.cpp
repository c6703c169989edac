#include "PortDetails.h"
#include "DeviceText.h"

#include <filesystem>
#include <system_error>

namespace Platform {

namespace fs = std::filesystem;

namespace {

std::string Subsystem(const fs::path& device)
{
    return LinkName(device / "subsystem");
}

bool IsUsbInterface(const fs::path& device)
{
    std::error_code error;
    return Subsystem(device) == "usb" && fs::exists(device / "bInterfaceNumber", error);
}

// The USB device a tty's device belongs to, or empty. Only two shapes are
// USB serial ports: the tty on the interface itself (cdc_acm) and the tty
// on a usb-serial port beneath the interface (ftdi_sio, cp210x...). Anything
// else is not, even when a USB device sits further up: a Bluetooth link's
// tty hangs below its adapter, and the adapter's ids are not the link's.
fs::path UsbDeviceOf(const fs::path& device)
{
    fs::path interface;
    if (IsUsbInterface(device))
        interface = device;
    else if (Subsystem(device) == "usb-serial" && IsUsbInterface(device.parent_path()))
        interface = device.parent_path();
    else
        return {};
    const fs::path usb = interface.parent_path();
    std::error_code error;
    if (Subsystem(usb) != "usb" || !fs::exists(usb / "idVendor", error))
        return {};
    return usb;
}

// Newer kernels hang a serial port on two devices of their own serial core
// ("port" and "ctrl" of the serial-base bus) below the UART's device; the
// UART's driver is the one that tells what the port is.
fs::path PastSerialCore(fs::path device)
{
    for (int step = 0; step < 2 && Subsystem(device) == "serial-base"; ++step)
        device = device.parent_path();
    return device;
}

// The driver's name from the device's driver link. A Bluetooth link's tty
// hangs on the adapter's controller, which no driver binds: its tty driver
// is the kernel's rfcomm.
std::string DriverOf(const fs::path& device)
{
    const std::string driver = LinkName(device / "driver");
    if (driver.empty() && Subsystem(device) == "bluetooth")
        return "rfcomm";
    return driver;
}

void ReadUsbFields(const fs::path& usb, TPortDetails& port)
{
    port.VendorId = ParseUsbId(ReadAttribute(usb / "idVendor"));
    port.ProductId = ParseUsbId(ReadAttribute(usb / "idProduct"));
    port.Manufacturer = ReadAttribute(usb / "manufacturer");
    // A product string that cannot be read (too long, several lines, not
    // UTF-8) leaves the description empty: what a port is called when its
    // device says nothing is for whoever shows it to decide.
    port.Description = ReadAttribute(usb / "product");
    port.SerialNumber = ReadAttribute(usb / "serial");
    port.Location = usb.filename().string();
}

TPortDetails DetailsOf(const fs::path& entry, std::string name)
{
    TPortDetails port;
    port.Name = std::move(name);
    std::error_code error;
    const fs::path device = fs::canonical(entry / "device", error);
    if (error)
        return port;
    port.Driver = DriverOf(PastSerialCore(device));
    const fs::path usb = UsbDeviceOf(device);
    if (!usb.empty())
        ReadUsbFields(usb, port);
    return port;
}

} // namespace

std::optional<std::vector<TPortDetails>> ListSerialDetails(const TPortSource& source)
{
    const std::optional<std::vector<std::string>> names = ListSerialDevices(source);
    if (!names)
        return std::nullopt;
    std::vector<TPortDetails> ports;
    ports.reserve(names->size());
    for (const std::string& name : *names) {
        // The listing names each port after its tty class entry.
        const fs::path entry = fs::path(source.Listing) / fs::path(name).filename();
        ports.push_back(DetailsOf(entry, name));
    }
    return ports;
}

} // namespace Platform
