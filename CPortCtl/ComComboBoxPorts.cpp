// How a selector that shows the ports follows them as they come and go.
#include "ComComboBox.h"

#include "PortItemModel.h"
#include "PortWatcher.h"

#include <QAbstractItemView>
#include <QTimer>

void TComComboBox::FollowPorts(bool follow)
{
    // A new watcher each time: the default source may have changed since.
    delete watcher_;
    watcher_ = nullptr;
    relist_->stop();
    relistWhenClosed_ = false;
    ForgetAwaitedPort();
    if (!follow)
        return;
    watcher_ = new TPortWatcher(this);
    connect(watcher_, &TPortWatcher::PortArrived, relist_, qOverload<>(&QTimer::start));
    connect(watcher_, &TPortWatcher::PortRemoved, relist_, qOverload<>(&QTimer::start));
}

// The list is read afresh and the choice kept: the entry chosen before if it
// is still there, else the one waited for if it is back. A chosen entry that
// went is waited for a while, nothing chosen meanwhile, so that nothing else
// is flashed by mistake. While the list is dropped down, nothing changes
// under the user's pointer: it is relisted when it closes.
void TComComboBox::RelistPorts()
{
    if (select_->ComProperty != cpPort)
        return;
    if (view()->isVisible()) {
        relistWhenClosed_ = true;
        return;
    }
    const QString current = Text();
    const QString wanted = current.isEmpty() ? awaitedPort_ : current;
    select_->ListPorts();
    setCurrentIndex(-1);
    const int index = IndexOfText(wanted);
    if (index >= 0) {
        awaitEnd_->stop();
        awaitedPort_.clear();
        setCurrentIndex(index);
    } else if (!current.isEmpty()) {
        awaitedPort_ = current;
        awaitEnd_->start(portReturnWaitMs_);
    } else if (awaitedPort_.isEmpty()) {
        ChoosePortValue();
    }
}

void TComComboBox::ForgetAwaitedPort()
{
    awaitEnd_->stop();
    awaitedPort_.clear();
}

void TComComboBox::hidePopup()
{
    QComboBox::hidePopup();
    if (relistWhenClosed_) {
        relistWhenClosed_ = false;
        // After the list has closed for good (some styles fade it out).
        relist_->start();
    }
}
