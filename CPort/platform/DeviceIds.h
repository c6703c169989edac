#pragma once

// What the Windows device manager's ids of a device tell: its USB vendor and
// product ids, the interface a port is on, the serial number. Pure text
// functions, built on every platform so that every suite tests them.

#include <string>

namespace Platform {

// What a device node is, as far as its ids tell.
enum class TDeviceKind {
    Other,
    // A whole USB device: its parent is a hub.
    UsbDevice,
    // An interface of a composite USB device: its device is its parent.
    UsbInterface,
    // A port of the FTDI driver's own bus, below the chip's USB device or
    // below one of its interfaces.
    FtdiPort,
};

struct TDeviceId {
    TDeviceKind Kind = TDeviceKind::Other;
    int VendorId = -1;
    int ProductId = -1;
    // The interface of a composite device (MI_01 is 1), or the port of a
    // multi-port FTDI chip (the driver's letter, A is 0); -1 when the id
    // names a whole device.
    int Interface = -1;
    // The serial number the device reported, or empty when the id does not
    // carry one (Windows made one up, or it belongs to the parent device).
    std::string SerialNumber;
};

// Reads an instance id or a hardware id:
//   USB\VID_0403&PID_6001\A50285BI           a USB device and its serial number
//   USB\VID_2341&PID_8036&MI_00\7&1a2b&0&0000 an interface of a composite device
//   FTDIBUS\VID_0403+PID_6001+A50285BIA\0000 a port of the FTDI driver's bus
//   USB\VID_0403&PID_6001&REV_0600           a hardware id (no serial number)
// Anything else gives only the ids it spells as VID_xxxx and PID_xxxx.
TDeviceId ParseDeviceId(const std::string& id);

} // namespace Platform
