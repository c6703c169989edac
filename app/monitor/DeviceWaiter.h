#pragma once

// Waits for the device a vanished port had behind it (a board that reset or
// was plugged in again) and tells under which name it is back. It never
// takes another device: a USB serial number or location decides where one
// is known, else the name. A port given as a link (a /dev/serial/by-id path)
// is awaited by that path, which names the device itself.

#include "ComPortDetails.h"

#include <QObject>

class QFileSystemWatcher;
class QTimer;
class TPortWatcher;

struct TAwaitedDevice {
    // The port as the user gave it.
    QString Port;
    bool ByPath = false;
    // What was behind it when it was opened; a bare name when not listed.
    TPortDetails Details;
};

// What is behind port now, from the machine's port listing.
TAwaitedDevice IdentifyPort(const QString& port);
// For the window: what is being waited for.
QString AwaitedText(const TAwaitedDevice& device);

class TDeviceWaiter : public QObject {
    Q_OBJECT

public:
    explicit TDeviceWaiter(QObject* parent = nullptr);
    ~TDeviceWaiter() override;

    void Wait(const TAwaitedDevice& device);
    void Stop();
    bool Waiting() const { return waiting_; }
    const TAwaitedDevice& Awaited() const { return device_; }
    // The port Found named could not be opened yet (its node may still be
    // getting its permissions): looks again a little later, a few times,
    // then only on the next arrival.
    void OpenFailed();

signals:
    // The device is back under port (a name, or the awaited path); waiting
    // has stopped.
    void Found(const QString& port);
    // A port left the machine's listing, waiting or not.
    void Removed(const QString& port);

private:
    void Look();
    void WatchPath();

    TAwaitedDevice device_;
    bool waiting_ = false;
    int retries_ = 0;
    TPortWatcher* ports_;
    QFileSystemWatcher* paths_;
    QTimer* retry_;
};
