#pragma once

// Tells when serial ports come and go, on the thread that owns the watcher,
// within about half a second, by the system's change notices (no reading of
// the port list in a loop).

#include "ComPortNames.h"

#include <QObject>
#include <QSet>
#include <QStringList>

#include <memory>

class QTimer;
namespace Platform {
class TPortWatch;
}

class TPortWatcher : public QObject {
    Q_OBJECT

public:
    // Watches the default source as it is when the watcher is made.
    explicit TPortWatcher(QObject* parent = nullptr);
    explicit TPortWatcher(const TPortSource& source, QObject* parent = nullptr);
    ~TPortWatcher() override;

    // False when the system gave no change notices for the source.
    bool Watching() const;
    // The ports as the last change notice left them.
    const QStringList& Ports() const { return ports_; }

signals:
    // A port that went and came back between two looks is reported as
    // both, the removal first.
    void PortArrived(const QString& Name);
    void PortRemoved(const QString& Name);

private:
    void Start();
    void NoticeArrived();
    void Compare();

    TPortSource source_;
    std::unique_ptr<Platform::TPortWatch> watch_;
    QObject* notifier_ = nullptr;
    // A burst of notices (a device node and its links) is read as one.
    QTimer* settle_;
    QStringList ports_;
    // Ports the notices saw go since the last look, whether or not they are
    // back by then.
    QSet<QString> wentAway_;
};
