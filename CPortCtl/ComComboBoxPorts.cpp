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
    chosenPort_.reset();
    if (!follow)
        return;
    watcher_ = new TPortWatcher(this);
    connect(watcher_, &TPortWatcher::PortArrived, relist_, qOverload<>(&QTimer::start));
    connect(watcher_, &TPortWatcher::PortRemoved, relist_, qOverload<>(&QTimer::start));
}

// The list is read afresh and only the port chosen last is chosen again:
// found by what is behind it, since a board that resets or is plugged in
// again may come back under another name, and a different board may take
// the old one. While that port is gone nothing is chosen, so that FLASH
// never takes another board by mistake, however long it stays away; the
// user's next pick replaces it. A linked port's own value is the choice
// when none was made. While the list is dropped down, nothing changes under
// the user's pointer: it is relisted when it closes.
void TComComboBox::RelistPorts()
{
    if (select_->ComProperty != cpPort)
        return;
    if (view()->isVisible()) {
        relistWhenClosed_ = true;
        return;
    }
    if (currentIndex() >= 0)
        chosenPort_ = items_->PortAt(currentIndex());
    select_->ListPorts();
    setCurrentIndex(-1);
    int index = -1;
    if (chosenPort_)
        index = items_->RowOfPort(*chosenPort_);
    else
        select_->FindPortValue(index);
    if (index >= 0)
        setCurrentIndex(index);
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
