// Storing and loading a port's settings: 29 named entries in fixed order,
// grouped, in a registry key or in one section of an initialisation file.

#include "ComPort.h"
#include "IniFile.h"
#include "RegistryKey.h"

#include <array>

namespace {

// The store operations the four steps use. Reads from the registry carry no
// default: a missing text reads empty, a missing number fails.
class TEntryStore {
public:
    virtual ~TEntryStore() = default;
    virtual void WriteText(const QString& name, const QString& value) = 0;
    virtual void WriteInteger(const QString& name, std::int32_t value) = 0;
    virtual QString ReadText(const QString& name, const QString& current) = 0;
    virtual std::int32_t ReadInteger(const QString& name, std::int32_t current) = 0;
};

class TRegistryKeyEntries final : public TEntryStore {
public:
    explicit TRegistryKeyEntries(RegistryKey& key) : key_(key) {}
    void WriteText(const QString& name, const QString& value) override { key_.WriteString(name, value); }
    void WriteInteger(const QString& name, std::int32_t value) override { key_.WriteInteger(name, value); }
    QString ReadText(const QString& name, const QString&) override { return key_.ReadString(name); }
    std::int32_t ReadInteger(const QString& name, std::int32_t) override { return key_.ReadInteger(name); }

private:
    RegistryKey& key_;
};

class TIniStore final : public TEntryStore {
public:
    TIniStore(IniFile& file, const QString& section) : file_(file), section_(section) {}
    void WriteText(const QString& name, const QString& value) override { file_.WriteString(section_, name, value); }
    void WriteInteger(const QString& name, std::int32_t value) override { file_.WriteInteger(section_, name, value); }
    QString ReadText(const QString& name, const QString& current) override
    {
        return file_.ReadString(section_, name, current);
    }
    std::int32_t ReadInteger(const QString& name, std::int32_t current) override
    {
        return file_.ReadInteger(section_, name, current);
    }

private:
    IniFile& file_;
    QString section_;
};

using TPort = TCustomComPort;

// One stored setting: its text form and how it is read back, or its number.
struct TEntry {
    const char* Name;
    TStoreGroup Group;
    QString (*Text)(const TPort&);
    void (*SetText)(TPort&, const QString&);
    std::int32_t (*Number)(const TPort&);
    void (*SetNumber)(TPort&, std::int32_t);
};

#define TEXT_ENTRY(name, group, get, set) \
    TEntry{name, group, [](const TPort& p) -> QString { return get; }, [](TPort& p, const QString& t) { set; }, nullptr, nullptr}
#define NUMBER_ENTRY(name, group, get, set) \
    TEntry{name, group, nullptr, nullptr, [](const TPort& p) -> std::int32_t { return get; }, [](TPort& p, std::int32_t n) { set; }}

// In visiting order: sgBasic, sgOthers, sgParity, sgBuffer, sgTimeouts, sgFlowControl.
const std::array<TEntry, 29> Entries = {
    TEXT_ENTRY("Port", sgBasic, p.Port(), p.SetPortName(t)),
    TEXT_ENTRY("BaudRate", sgBasic, BaudRateText(p.BaudRate()), p.SetBaudRate(BaudRateFromText(t))),
    NUMBER_ENTRY("CustomBaudRate", sgBasic, p.CustomBaudRate(), p.SetCustomBaudRate(n)),
    TEXT_ENTRY("StopBits", sgBasic, StopBitsText(p.StopBits()), p.SetStopBits(StopBitsFromText(t))),
    TEXT_ENTRY("DataBits", sgBasic, DataBitsText(p.DataBits()), p.SetDataBits(DataBitsFromText(t))),
    TEXT_ENTRY("Parity", sgBasic, ParityText(p.Parity().Bits()), p.Parity().SetBits(ParityFromText(t))),
    TEXT_ENTRY("FlowControl", sgBasic, FlowControlText(p.FlowControl().FlowControl()),
               p.FlowControl().SetFlowControl(FlowControlFromText(t))),
    TEXT_ENTRY("EventChar", sgOthers, CharText(p.EventChar()), p.SetEventChar(CharFromText(t))),
    TEXT_ENTRY("DiscardNull", sgOthers, YesNoText(p.DiscardNull()), p.SetDiscardNull(YesNoFromText(t))),
    TEXT_ENTRY("Parity.Check", sgParity, YesNoText(p.Parity().Check()), p.Parity().SetCheck(YesNoFromText(t))),
    TEXT_ENTRY("Parity.Replace", sgParity, YesNoText(p.Parity().Replace()), p.Parity().SetReplace(YesNoFromText(t))),
    TEXT_ENTRY("Parity.ReplaceChar", sgParity, CharText(p.Parity().ReplaceChar()),
               p.Parity().SetReplaceChar(CharFromText(t))),
    NUMBER_ENTRY("Buffer.OutputSize", sgBuffer, p.Buffer().OutputSize(), p.Buffer().SetOutputSize(n)),
    NUMBER_ENTRY("Buffer.InputSize", sgBuffer, p.Buffer().InputSize(), p.Buffer().SetInputSize(n)),
    NUMBER_ENTRY("Timeouts.ReadInterval", sgTimeouts, p.Timeouts().ReadInterval(), p.Timeouts().SetReadInterval(n)),
    NUMBER_ENTRY("Timeouts.ReadTotalConstant", sgTimeouts, p.Timeouts().ReadTotalConstant(),
                 p.Timeouts().SetReadTotalConstant(n)),
    NUMBER_ENTRY("Timeouts.ReadTotalMultiplier", sgTimeouts, p.Timeouts().ReadTotalMultiplier(),
                 p.Timeouts().SetReadTotalMultiplier(n)),
    NUMBER_ENTRY("Timeouts.WriteTotalConstant", sgTimeouts, p.Timeouts().WriteTotalConstant(),
                 p.Timeouts().SetWriteTotalConstant(n)),
    NUMBER_ENTRY("Timeouts.WriteTotalMultiplier", sgTimeouts, p.Timeouts().WriteTotalMultiplier(),
                 p.Timeouts().SetWriteTotalMultiplier(n)),
    TEXT_ENTRY("FlowControl.ControlRTS", sgFlowControl, RTSControlText(p.FlowControl().ControlRTS()),
               p.FlowControl().SetControlRTS(RTSControlFromText(t))),
    TEXT_ENTRY("FlowControl.ControlDTR", sgFlowControl, DTRControlText(p.FlowControl().ControlDTR()),
               p.FlowControl().SetControlDTR(DTRControlFromText(t))),
    TEXT_ENTRY("FlowControl.DSRSensitivity", sgFlowControl, YesNoText(p.FlowControl().DSRSensitivity()),
               p.FlowControl().SetDSRSensitivity(YesNoFromText(t))),
    TEXT_ENTRY("FlowControl.OutCTSFlow", sgFlowControl, YesNoText(p.FlowControl().OutCTSFlow()),
               p.FlowControl().SetOutCTSFlow(YesNoFromText(t))),
    TEXT_ENTRY("FlowControl.OutDSRFlow", sgFlowControl, YesNoText(p.FlowControl().OutDSRFlow()),
               p.FlowControl().SetOutDSRFlow(YesNoFromText(t))),
    TEXT_ENTRY("FlowControl.TxContinueOnXoff", sgFlowControl, YesNoText(p.FlowControl().TxContinueOnXoff()),
               p.FlowControl().SetTxContinueOnXoff(YesNoFromText(t))),
    TEXT_ENTRY("FlowControl.XonXoffIn", sgFlowControl, YesNoText(p.FlowControl().XonXoffIn()),
               p.FlowControl().SetXonXoffIn(YesNoFromText(t))),
    TEXT_ENTRY("FlowControl.XonXoffOut", sgFlowControl, YesNoText(p.FlowControl().XonXoffOut()),
               p.FlowControl().SetXonXoffOut(YesNoFromText(t))),
    TEXT_ENTRY("FlowControl.XoffChar", sgFlowControl, CharText(p.FlowControl().XoffChar()),
               p.FlowControl().SetXoffChar(CharFromText(t))),
    TEXT_ENTRY("FlowControl.XonChar", sgFlowControl, CharText(p.FlowControl().XonChar()),
               p.FlowControl().SetXonChar(CharFromText(t))),
};

#undef TEXT_ENTRY
#undef NUMBER_ENTRY

bool IsCustomRate(const TEntry& entry)
{
    return qstrcmp(entry.Name, "CustomBaudRate") == 0;
}

void Store(const TPort& port, TEntryStore& store)
{
    for (const TEntry& entry : Entries) {
        if (!port.StoredGroups().Contains(entry.Group))
            continue;
        if (IsCustomRate(entry) && port.BaudRate() != brCustom)
            continue;
        const QString name = QString::fromLatin1(entry.Name);
        if (entry.Text)
            store.WriteText(name, entry.Text(port));
        else
            store.WriteInteger(name, entry.Number(port));
    }
}

// Every value goes through the property's setter, so an open port re-applies
// what changed (and reopens on a changed port name).
void Load(TPort& port, TEntryStore& store)
{
    for (const TEntry& entry : Entries) {
        if (!port.StoredGroups().Contains(entry.Group))
            continue;
        const QString name = QString::fromLatin1(entry.Name);
        if (IsCustomRate(entry)) {
            if (port.BaudRate() == brCustom)
                port.SetCustomBaudRate(store.ReadInteger(name, 9600));
            continue;
        }
        if (entry.Text)
            entry.SetText(port, store.ReadText(name, entry.Text(port)));
        else
            entry.SetNumber(port, store.ReadInteger(name, entry.Number(port)));
    }
}

} // namespace

void TCustomComPort::StoreRegistry(RegistryKey& reg)
{
    TRegistryKeyEntries store(reg);
    Store(*this, store);
}

void TCustomComPort::StoreIniFile(IniFile& ini)
{
    TIniStore store(ini, objectName());
    Store(*this, store);
}

void TCustomComPort::LoadRegistry(RegistryKey& reg)
{
    TRegistryKeyEntries store(reg);
    Load(*this, store);
}

void TCustomComPort::LoadIniFile(IniFile& ini)
{
    TIniStore store(ini, objectName());
    Load(*this, store);
}
