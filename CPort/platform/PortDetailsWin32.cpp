#include "PortDetails.h"
#include "DeviceIds.h"
#include "DeviceText.h"
#include "WideText.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <map>

namespace Platform {

namespace {

// The device setup class of serial and parallel ports; spelled out so that
// no GUID library has to be linked for it.
constexpr GUID PortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The product string the device itself reported on its bus (a USB device's
// iProduct), and where the device is plugged in; spelled out for the same
// reason.
constexpr DEVPROPKEY BusReportedDescription = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};
constexpr DEVPROPKEY LocationInformation = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 15};

// Frees the device list however the walk ends.
class TDeviceList {
public:
    TDeviceList() : info_(SetupDiGetClassDevsW(&PortsClass, nullptr, nullptr, DIGCF_PRESENT)) {}
    ~TDeviceList()
    {
        if (info_ != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(info_);
    }
    TDeviceList(const TDeviceList&) = delete;
    TDeviceList& operator=(const TDeviceList&) = delete;

    HDEVINFO Get() const { return info_; }

private:
    HDEVINFO info_;
};

// A text property of the device; of a list (hardware ids), the first entry.
std::string Property(HDEVINFO info, SP_DEVINFO_DATA& device, DWORD property)
{
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(info, &device, property, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - sizeof(wchar_t), nullptr))
        return {};
    if (type != REG_SZ && type != REG_MULTI_SZ)
        return {};
    return Utf8FromWide(buffer);
}

// The port's name (COM3) from the device's own registry key.
std::string PortNameOf(HDEVINFO info, SP_DEVINFO_DATA& device)
{
    const HKEY key = SetupDiOpenDevRegKey(info, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t name[256] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LONG result = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? Utf8FromWide(name) : std::string();
}

std::string InstanceIdOf(HDEVINFO info, SP_DEVINFO_DATA& device)
{
    wchar_t id[512] = {};
    if (!SetupDiGetDeviceInstanceIdW(info, &device, id, 511, nullptr))
        return {};
    return Utf8FromWide(id);
}

// A text property of a device node, or empty when it has none or it is not
// a line of plain text (the device wrote it).
std::string NodeText(DEVINST node, const DEVPROPKEY& key)
{
    wchar_t buffer[512] = {};
    DEVPROPTYPE type = 0;
    ULONG size = sizeof buffer - sizeof(wchar_t);
    if (CM_Get_DevNode_PropertyW(node, &key, &type, reinterpret_cast<BYTE*>(buffer), &size, 0) != CR_SUCCESS ||
        type != DEVPROP_TYPE_STRING)
        return {};
    const std::string text = Utf8FromWide(buffer);
    return IsPlainText(text) ? text : std::string();
}

std::string NodeId(DEVINST node)
{
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return {};
    return Utf8FromWide(id);
}

// The USB device a port is part of: the port's own node for most adapters,
// the node above a composite device's interface or an FTDI port, two above
// an FTDI port on an interface of a multi-port chip; zero for anything else.
// Only these shapes: a Bluetooth link's port hangs below its adapter, whose
// ids and serial number are not the link's.
DEVINST UsbDeviceOf(DEVINST node)
{
    for (int level = 0; level < 3; ++level) {
        const TDeviceId id = ParseDeviceId(NodeId(node));
        if (id.Kind == TDeviceKind::UsbDevice)
            return id.VendorId >= 0 ? node : 0;
        if (id.Kind == TDeviceKind::Other || CM_Get_Parent(&node, node, 0) != CR_SUCCESS)
            return 0;
    }
    return 0;
}

// "USB Serial Port (COM3)" without the port's name, which the list shows.
std::string WithoutPortName(std::string text, const std::string& port)
{
    const std::string suffix = " (" + port + ")";
    if (text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
        text.resize(text.size() - suffix.size());
    return text;
}

// What Windows keeps of the device itself is read where it has it: the ids
// and serial number from its instance ids, the product string it reported
// on the bus. Windows keeps no maker string the device reported (the
// device manager's manufacturer is the driver package's: "Microsoft" for
// every board served by the system's CDC driver), so Manufacturer stays
// empty; reading the device's own would mean a request to the device
// through its hub, which a listing does not make.
TPortDetails DetailsOf(HDEVINFO info, SP_DEVINFO_DATA& device, const std::string& name)
{
    TPortDetails port;
    port.Name = name;
    const DEVINST usb = UsbDeviceOf(device.DevInst);
    if (usb)
        port.Description = NodeText(usb, BusReportedDescription);
    // Without a product string, the device manager's name for the device.
    if (port.Description.empty())
        port.Description = WithoutPortName(Property(info, device, SPDRP_FRIENDLYNAME), name);
    if (port.Description.empty())
        port.Description = Property(info, device, SPDRP_DEVICEDESC);
    TDeviceId id = ParseDeviceId(InstanceIdOf(info, device));
    if (id.VendorId < 0)
        id = ParseDeviceId(Property(info, device, SPDRP_HARDWAREID));
    port.VendorId = id.VendorId;
    port.ProductId = id.ProductId;
    // An FTDI port's id carries the chip's serial number; a composite
    // device's interface leaves it to the device above.
    port.SerialNumber = id.SerialNumber;
    if (port.SerialNumber.empty() && usb)
        port.SerialNumber = ParseDeviceId(NodeId(usb)).SerialNumber;
    port.Location = usb ? NodeText(usb, LocationInformation) : std::string();
    if (port.Location.empty())
        port.Location = Property(info, device, SPDRP_LOCATION_INFORMATION);
    port.Driver = Property(info, device, SPDRP_SERVICE);
    return port;
}

// Every present device of the ports class, by the port name it carries.
std::map<std::string, TPortDetails> PresentPorts()
{
    std::map<std::string, TPortDetails> ports;
    const TDeviceList list;
    if (list.Get() == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(list.Get(), index, &device); ++index) {
        const std::string name = PortNameOf(list.Get(), device);
        if (!name.empty())
            ports.emplace(name, DetailsOf(list.Get(), device, name));
    }
    return ports;
}

// Whether the source is the machine's own listing (registry paths are
// compared without regard to case, as the registry does).
bool IsMachineListing(const TPortSource& source)
{
    const std::string machine = MachinePortSource().Listing;
    return source.Listing.size() == machine.size() &&
           _strnicmp(source.Listing.c_str(), machine.c_str(), machine.size()) == 0;
}

} // namespace

// The names come from the same key as the bare list, so both list the same
// ports; a port the device manager does not know (a virtual one) keeps
// empty fields. The device manager describes the machine's own devices and
// cannot be pointed at another listing: a port of another listing that
// shares a name with one of the machine's is not that device, so such a
// listing's ports get their names only.
std::optional<std::vector<TPortDetails>> ListSerialDetails(const TPortSource& source)
{
    const std::optional<std::vector<std::string>> names = ListSerialDevices(source);
    if (!names)
        return std::nullopt;
    const std::map<std::string, TPortDetails> present =
        IsMachineListing(source) ? PresentPorts() : std::map<std::string, TPortDetails>();
    std::vector<TPortDetails> ports;
    for (const std::string& name : *names) {
        const auto found = present.find(name);
        if (found != present.end()) {
            ports.push_back(found->second);
        } else {
            ports.push_back({});
            ports.back().Name = name;
        }
    }
    return ports;
}

} // namespace Platform
