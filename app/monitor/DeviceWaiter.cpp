#include "DeviceWaiter.h"

#include "PortWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

namespace {

// The look after a loss, and between tries of a node not ready yet.
constexpr int RetryMs = 250;
constexpr int MaxRetries = 8;

QList<TPortDetails> ListedPorts()
{
    QList<TPortDetails> ports;
    GetComPortDetails(ports);
    return ports;
}

} // namespace

TAwaitedDevice IdentifyPort(const QString& port)
{
    TAwaitedDevice device;
    device.Port = port;
    const QFileInfo info(port);
    device.ByPath = port.contains(QLatin1Char('/')) && info.isSymLink();
    // The listing names ports by their device nodes ("/dev/ttyUSB0"); a
    // port may be given by its bare name, or by a link to its node.
    const QString node = device.ByPath ? info.canonicalFilePath() : port;
    const QString name = QFileInfo(node).fileName();
    device.Details.Name = node;
    for (const TPortDetails& listed : ListedPorts()) {
        if (listed.Name == node || QFileInfo(listed.Name).fileName() == name) {
            device.Details = listed;
            break;
        }
    }
    return device;
}

QString AwaitedText(const TAwaitedDevice& device)
{
    const TPortDetails& details = device.Details;
    if (device.ByPath)
        return QObject::tr("%1 to come back").arg(device.Port);
    if (!details.SerialNumber.isEmpty())
        return QObject::tr("the device with serial number %1 (last seen as %2)").arg(details.SerialNumber,
                                                                                     details.Name);
    if (!details.Location.isEmpty())
        return QObject::tr("the device at USB location %1 (last seen as %2)").arg(details.Location, details.Name);
    return QObject::tr("%1 to come back").arg(details.Name);
}

TDeviceWaiter::TDeviceWaiter(QObject* parent)
    : QObject(parent), ports_(new TPortWatcher(this)), paths_(new QFileSystemWatcher(this)), retry_(new QTimer(this))
{
    retry_->setSingleShot(true);
    retry_->setInterval(RetryMs);
    connect(retry_, &QTimer::timeout, this, &TDeviceWaiter::Look);
    connect(ports_, &TPortWatcher::PortArrived, this, [this] {
        retries_ = 0;
        Look();
    });
    connect(ports_, &TPortWatcher::PortRemoved, this, &TDeviceWaiter::Removed);
    connect(paths_, &QFileSystemWatcher::directoryChanged, this, [this] {
        WatchPath();
        Look();
    });
}

TDeviceWaiter::~TDeviceWaiter() = default;

void TDeviceWaiter::Wait(const TAwaitedDevice& device)
{
    device_ = device;
    waiting_ = true;
    retries_ = 0;
    WatchPath();
    // The device may be back before its loss was seen: one look soon, in
    // case no arrival is ever told.
    retry_->start();
}

void TDeviceWaiter::Stop()
{
    waiting_ = false;
    retry_->stop();
    if (!paths_->directories().isEmpty())
        paths_->removePaths(paths_->directories());
}

void TDeviceWaiter::OpenFailed()
{
    if (!waiting_ && !device_.Port.isEmpty()) {
        waiting_ = true;
        WatchPath();
    }
    if (++retries_ <= MaxRetries)
        retry_->start();
}

// A link's folder may vanish with its last device (/dev/serial/by-id):
// the nearest folder that exists is watched, and deeper ones as they come.
void TDeviceWaiter::WatchPath()
{
    if (!waiting_ || !device_.ByPath)
        return;
    QDir dir = QFileInfo(device_.Port).absoluteDir();
    while (!dir.exists() && dir.cdUp()) {
    }
    if (!paths_->directories().contains(dir.path()))
        paths_->addPath(dir.path());
}

void TDeviceWaiter::Look()
{
    if (!waiting_)
        return;
    QString found;
    if (device_.ByPath) {
        if (QFileInfo::exists(device_.Port))
            found = device_.Port;
    } else {
        const QList<TPortDetails> ports = ListedPorts();
        const qsizetype index = FindSameDevice(ports, device_.Details);
        if (index >= 0)
            found = ports[index].Name;
    }
    if (found.isEmpty())
        return;
    Stop();
    emit Found(found);
}
