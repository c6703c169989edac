// A serial card removed while its port is open. The card stays gone for the
// rest of the run; no other case uses it. A pseudo-terminal can only hang
// up, not disappear from the bus.

#include "RigPort.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The tty of the emulator's PCI serial card, found through sysfs.
QString PciCardPort()
{
    const QDir ttys("/sys/class/tty");
    for (const QString& name : ttys.entryList({"ttyS*"}, QDir::Dirs | QDir::System)) {
        const QString device = QFileInfo(ttys.filePath(name) + "/device").canonicalFilePath();
        if (device.contains("/pci"))
            return "/dev/" + name;
    }
    return {};
}

class RemovedDevice : public RigCase {
protected:
    TJournal journal;
    TCustomComPort port;
};

TEST_F(RemovedDevice, IsReportedOnceWithNothingSpinning)
{
    const QString path = PciCardPort();
    ASSERT_FALSE(path.isEmpty()) << "no PCI serial card in the guest (the emulator's pci-serial device)";
    port.SetPortName(path);
    port.SetBaudRate(br115200);
    port.OnException = [this](TCustomComPort*, TComErrorCode code, const QString& message, std::int64_t osError,
                              const QString&) {
        journal.Add(QString("%1 %2 (%3)").arg(code).arg(message).arg(osError));
    };
    port.Open();
    Far().UnplugCard();
    ASSERT_TRUE(journal.WaitFor(1, 15000)) << "the removal of the card was never reported";
    const long long before = CpuMs();
    EXPECT_FALSE(journal.WaitFor(2, 1000)) << "the removal was reported more than once: "
                                           << journal.Entries().join("; ").toStdString();
    const long long used = CpuMs() - before;
    EXPECT_LT(used, 100) << "the port used " << used << " ms of CPU in the second after the removal";
    std::printf("removal reported as: %s\n", qPrintable(journal.Entries().value(0)));
    port.Close();
    // The driver keeps the tty's slot; only its tie to the card goes.
    EXPECT_TRUE(PciCardPort().isEmpty()) << "the card is still on the bus: the removal proved nothing";
}

} // namespace
