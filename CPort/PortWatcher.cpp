#include "PortWatcher.h"

#include "platform/PortWatch.h"

#include <QPointer>
#include <QTimer>

#ifdef _WIN32
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

namespace {

// Long enough for a device's node, links and attributes to appear together,
// short enough to report well within half a second.
constexpr int SettleMs = 100;

} // namespace

TPortWatcher::TPortWatcher(QObject* parent) : TPortWatcher(DefaultPortSource(), parent) {}

TPortWatcher::TPortWatcher(const TPortSource& source, QObject* parent)
    : QObject(parent), source_(source), settle_(new QTimer(this))
{
    settle_->setSingleShot(true);
    settle_->setInterval(SettleMs);
    connect(settle_, &QTimer::timeout, this, &TPortWatcher::Compare);
    // Watched before it is listed, so that a port arriving meanwhile is
    // noticed. One the list already holds is not reported again: the next
    // look reports only what differs from the list.
    Start();
    GetComPortNames(ports_, source_);
}

TPortWatcher::~TPortWatcher()
{
    // The notifier goes before the watch whose handle it waits on.
    delete notifier_;
}

void TPortWatcher::Start()
{
    watch_ = std::make_unique<Platform::TPortWatch>(
        Platform::TPortSource{source_.Listing.toStdString(), source_.DeviceDir.toStdString()});
    if (!watch_->Valid())
        return;
#ifdef _WIN32
    auto* notifier = new QWinEventNotifier(reinterpret_cast<Qt::HANDLE>(watch_->Handle()), this);
    connect(notifier, &QWinEventNotifier::activated, this, &TPortWatcher::NoticeArrived);
#else
    auto* notifier = new QSocketNotifier(static_cast<qintptr>(watch_->Handle()), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TPortWatcher::NoticeArrived);
#endif
    notifier_ = notifier;
}

bool TPortWatcher::Watching() const
{
    return notifier_ != nullptr;
}

void TPortWatcher::NoticeArrived()
{
    for (const std::string& name : watch_->TakeChanges())
        wentAway_.insert(QString::fromStdString(name));
    // Not restarted by later notices: a steady stream of them must not hold
    // the report back.
    if (!settle_->isActive())
        settle_->start();
}

// The removals are reported before the arrivals, and a port seen going that
// is back already is reported as gone and back. A receiver may delete this
// watcher (or another one) from any of the signals: nothing here is touched
// after that.
void TPortWatcher::Compare()
{
    QStringList now = ports_;
    GetComPortNames(now, source_);
    const QSet<QString> before(ports_.begin(), ports_.end());
    const QSet<QString> after(now.begin(), now.end());
    QStringList removed, arrived;
    for (const QString& name : std::as_const(ports_)) {
        if (!after.contains(name)) {
            removed.append(name);
        }
        else if (wentAway_.contains(name)) {
            removed.append(name);
            arrived.append(name);
        }
    }
    for (const QString& name : std::as_const(now)) {
        if (!before.contains(name))
            arrived.append(name);
    }
    ports_ = std::move(now);
    wentAway_.clear();
    const QPointer<TPortWatcher> alive(this);
    for (const QString& name : std::as_const(removed)) {
        emit PortRemoved(name);
        if (!alive)
            return;
    }
    for (const QString& name : std::as_const(arrived)) {
        emit PortArrived(name);
        if (!alive)
            return;
    }
}
