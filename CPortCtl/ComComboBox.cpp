#include "ComComboBox.h"

#include "ApplicationException.h"
#include "ComPort.h"
#include "PortItemDelegate.h"
#include "PortItemModel.h"
#include "PortWatcher.h"

#include <QTimer>

TComComboBox::TComComboBox(QWidget* owner)
    : QComboBox(owner), select_(std::make_unique<TComSelect>()), items_(new TPortItemModel(this)),
      relist_(new QTimer(this))
{
    setModel(items_);
    setItemDelegate(new TPortItemDelegate(this));
    relist_->setSingleShot(true);
    relist_->setInterval(0);
    connect(relist_, &QTimer::timeout, this, [this] { RelistPorts(); });
    select_->Items = items_;
    setEditable(false);
    // activated is emitted for a user's pick only, never for a selection made
    // by the program.
    connect(this, &QComboBox::activated, this, [this] { Change(); });
}

// Members are freed before the base destructor deletes the child widgets, so
// a port owned by this combo box dies after the selector: its destruction
// notice must not reach us any more.
TComComboBox::~TComComboBox()
{
    disconnect(portWatch_);
    delete watcher_;
}

void TComComboBox::SetComPort(TCustomComPort* value)
{
    if (select_->ComPort == value)
        return;
    disconnect(portWatch_);
    select_->ComPort = value;
    if (!value)
        return;
    portWatch_ = connect(value, &QObject::destroyed, this, [this](QObject* component) { Notification(component); });
    ShowPortValue();
}

void TComComboBox::SetComProperty(TComProperty value)
{
    FollowPorts(value == cpPort);
    select_->SetComProperty(value);
    // A refilled list starts with nothing selected (the view would pick its
    // first row on its own); the rules below choose the entry.
    setCurrentIndex(-1);
    ChoosePortValue();
}

// The linked port's value, or with no port the first entry.
void TComComboBox::ChoosePortValue()
{
    if (items_->rowCount() == 0)
        return;
    if (select_->ComPort) {
        int index = -1;
        select_->FindPortValue(index);
        SetItemIndex(index);
    } else {
        SetItemIndex(0);
    }
}

QString TComComboBox::Text() const
{
    const int index = currentIndex();
    return index >= 0 ? itemText(index) : QString();
}

int TComComboBox::IndexOfText(const QString& value) const
{
    const QStringList entries = items_->stringList();
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].compare(value, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void TComComboBox::SetText(const QString& value)
{
    const int index = IndexOfText(value);
    if (index >= 0)
        SetItemIndex(index);
}

void TComComboBox::SetItemIndex(int index)
{
    // A choice made now replaces the port remembered; what is behind the
    // new one is read from its entry when the ports are next listed.
    chosenPort_.reset();
    if (IsLoading())
        pendingIndex_ = index;
    else
        setCurrentIndex(index);
}

void TComComboBox::Loaded()
{
    TComponentState::Loaded();
    if (pendingIndex_) {
        setCurrentIndex(*pendingIndex_);
        pendingIndex_.reset();
    }
}

void TComComboBox::ShowPortValue()
{
    if (!select_->ComPort || select_->ComProperty == cpNone)
        return;
    int index = currentIndex();
    select_->FindPortValue(index);
    SetItemIndex(index);
}

void TComComboBox::Notification(QObject* component)
{
    // Only the address is compared: the port is already gone.
    if (component != static_cast<QObject*>(select_->ComPort) || !select_->ComPort)
        return;
    select_->ComPort = nullptr;
    if (items_->rowCount() > 0)
        SetItemIndex(0);
}

void TComComboBox::Change()
{
    chosenPort_.reset();
    try {
        select_->RecordChoice(Text());
    } catch (...) {
        // A port that refused the choice: the pick stays recorded and
        // selected, OnChange is not called, and the application shows the error.
        HandleApplicationException(this);
        return;
    }
    emit OnChange();
}
