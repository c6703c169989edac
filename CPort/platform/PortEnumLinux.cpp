#include "../ComPortNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// Every entry of the tty class with a "device" link is a serial device. The
// kernel also lists the legacy ttyS ports it reserves whether or not a UART is
// there; those whose UART type is unknown (0) are ghosts and left out.
std::optional<QStringList> ListSerialDevices(const TPortSource& Source)
{
    const QDir classDir(Source.TtyClassDir);
    if (!classDir.exists() || !classDir.isReadable())
        return std::nullopt;

    QStringList names;
    const QStringList entries = classDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& entry : entries) {
        const QFileInfo device(classDir.filePath(entry) + QStringLiteral("/device"));
        if (!device.exists() && !device.isSymLink())
            continue;
        if (entry.startsWith(QLatin1String("ttyS"))) {
            QFile type(classDir.filePath(entry) + QStringLiteral("/type"));
            if (!type.open(QIODevice::ReadOnly))
                continue;
            bool ok = false;
            const int uartType = QString::fromLatin1(type.readAll()).trimmed().toInt(&ok);
            if (!ok || uartType == 0)
                continue;
        }
        names.append(Source.DeviceDir + QLatin1Char('/') + entry);
    }
    return names;
}
