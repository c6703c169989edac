#pragma once

// A combo box that lists the values of one property of a serial port, shows
// the linked port's current value and hands the user's choice to it.

#include "ComPortDetails.h"
#include "ComSelect.h"
#include "Component.h"

#include <QComboBox>

#include <memory>
#include <optional>

class QTimer;
class TPortItemModel;
class TPortWatcher;

class TComComboBox : public QComboBox, public TComponentState {
    Q_OBJECT
    // Stored in a layout in this order; the item list itself never is.
    Q_PROPERTY(int ComProperty READ ComPropertyValue WRITE SetComPropertyValue)
    Q_PROPERTY(bool AutoApply READ AutoApply WRITE SetAutoApply)
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex)

public:
    explicit TComComboBox(QWidget* owner = nullptr);
    ~TComComboBox() override;

    TCustomComPort* ComPort() const { return select_->ComPort; }
    void SetComPort(TCustomComPort* value);
    TComProperty ComProperty() const { return select_->ComProperty; }
    // Refills the list even when the property is unchanged.
    void SetComProperty(TComProperty value);
    bool AutoApply() const { return select_->AutoApply; }
    void SetAutoApply(bool value) { select_->AutoApply = value; }
    // The selected entry's text, or empty with nothing selected.
    QString Text() const;
    // Selects the first entry equal to value ignoring case; no match, no change.
    void SetText(const QString& value);
    int ItemIndex() const { return currentIndex(); }
    // While a layout is applied only the last request is kept, and applied
    // when the layout is complete.
    void SetItemIndex(int index);

    void ShowPortValue();
    const TComSelect& Selector() const { return *select_; }

    // A list that changed while it was dropped down is shown once it closes.
    void hidePopup() override;

signals:
    // After a user's pick has been recorded (and applied).
    void OnChange();

protected:
    void Loaded() override;
    // A watched component is going away.
    void Notification(QObject* component);

private:
    int ComPropertyValue() const { return ComProperty(); }
    void SetComPropertyValue(int value) { SetComProperty(static_cast<TComProperty>(value)); }
    void Change();
    int IndexOfText(const QString& value) const;
    void FollowPorts(bool follow);
    void RelistPorts();
    void ChoosePortValue();

    std::unique_ptr<TComSelect> select_;
    // The linked port's destruction notice; cut when the link changes and
    // before the selector is freed.
    QMetaObject::Connection portWatch_;
    TPortItemModel* items_;
    std::optional<int> pendingIndex_;
    // While ports are shown: the ports' comings and goings, and the
    // relisting they cause (one for a burst of them).
    TPortWatcher* watcher_ = nullptr;
    QTimer* relist_;
    bool relistWhenClosed_ = false;
    // What is behind the port chosen last (by the user, or when the list was
    // filled), kept while it is gone: it is the only port ever chosen again
    // without the user, under whatever name it comes back. Empty when no
    // port was chosen or the choice was cleared.
    std::optional<TPortDetails> chosenPort_;
};
