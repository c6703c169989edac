#include "PortDetails.h"
#include "DeviceText.h"
#include "WideText.h"

#include <windows.h>

#include <setupapi.h>

#include <map>

namespace Platform {

namespace {

// The device setup class of serial and parallel ports; spelled out so that
// no GUID library has to be linked for it.
constexpr GUID PortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

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

// The four hex digits after key ("VID_") in a hardware id, or -1.
int IdAfter(const std::string& text, const std::string& key)
{
    const std::size_t at = text.find(key);
    return at == std::string::npos ? -1 : ParseUsbId(text.substr(at + key.size(), 4));
}

// A USB device's serial number is the last part of its instance id
// (USB\VID_0403&PID_6001\A50285BI); Windows makes up one with '&' in it for
// devices that have none.
std::string SerialOf(const std::string& instanceId)
{
    if (instanceId.rfind("USB\\", 0) != 0)
        return {};
    const std::size_t at = instanceId.rfind('\\');
    const std::string last = instanceId.substr(at + 1);
    return last.find('&') == std::string::npos ? last : std::string();
}

// "USB Serial Port (COM3)" without the port's name, which the list shows.
std::string WithoutPortName(std::string text, const std::string& port)
{
    const std::string suffix = " (" + port + ")";
    if (text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
        text.resize(text.size() - suffix.size());
    return text;
}

TPortDetails DetailsOf(HDEVINFO info, SP_DEVINFO_DATA& device, const std::string& name)
{
    TPortDetails port;
    port.Name = name;
    port.Description = WithoutPortName(Property(info, device, SPDRP_FRIENDLYNAME), name);
    if (port.Description.empty())
        port.Description = Property(info, device, SPDRP_DEVICEDESC);
    port.Manufacturer = Property(info, device, SPDRP_MFG);
    const std::string hardwareId = Property(info, device, SPDRP_HARDWAREID);
    port.VendorId = IdAfter(hardwareId, "VID_");
    port.ProductId = IdAfter(hardwareId, "PID_");
    port.SerialNumber = SerialOf(InstanceIdOf(info, device));
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

} // namespace

// The names come from the same key as the bare list, so both list the same
// ports; a port the device manager does not know (a virtual one) keeps
// empty fields.
std::optional<std::vector<TPortDetails>> ListSerialDetails(const TPortSource& source)
{
    const std::optional<std::vector<std::string>> names = ListSerialDevices(source);
    if (!names)
        return std::nullopt;
    const std::map<std::string, TPortDetails> present = PresentPorts();
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
