#include "MonitorWindow.h"

#include "ComComboBox.h"
#include "FlashPanel.h"
#include "LineLeds.h"
#include "LogWriter.h"
#include "Sender.h"
#include "StreamModel.h"
#include "StreamView.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr std::array<TComProperty, 6> SelectorProperties = {cpPort,     cpBaudRate, cpDataBits,
                                                            cpParity,   cpStopBits, cpFlowControl};
constexpr std::array<const char*, 6> SelectorLabels = {"Port", "Speed", "Data bits", "Parity", "Stop bits", "Flow"};

// How long a flashed board has to say its first line.
constexpr int AnswerMs = 15000;

// How long a break holds the line in the spacing state.
constexpr int BreakMs = 250;

TBaudRate BaudRateOf(int speed)
{
    for (int i = 1; i < BaudRateCount; ++i) {
        if (BaudRateDeviceValues[i] == static_cast<std::uint32_t>(speed))
            return static_cast<TBaudRate>(i);
    }
    return brCustom;
}

QString SpeedText(const TCustomComPort& port)
{
    return port.BaudRate() == brCustom ? QString::number(port.CustomBaudRate()) : BaudRateText(port.BaudRate());
}

QPushButton* Button(const QString& text, const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

} // namespace

TMonitorWindow::TMonitorWindow(const TMonitorOptions& options, Comm::TCommLayer& layer, QWidget* parent)
    : QWidget(parent), port_(nullptr, layer), model_(new TStreamModel(this)), view_(new TStreamView(this)),
      log_(new TLogWriter(this)), sender_(new TSender(port_, this)), waiter_(new TDeviceWaiter(this)),
      leds_(new TLineLeds(this)), status_(new QLabel(this)), flash_(new TFlashPanel(this)),
      startDir_(QDir::currentPath()), answerTimer_(new QTimer(this))
{
    setWindowTitle(tr("ZORBEL monitor"));
    // Wide enough for every control in a row and for whole hex rows beside
    // the text.
    resize(1280, 640);
    port_.setObjectName(QStringLiteral("ComPort"));
    port_.SetStoredGroups({sgBasic, sgFlowControl, sgParity});
    port_.SetBaudRate(br115200);
    LoadMonitorSettings(port_, choices_);
    ConnectPort();

    auto* rows = new QVBoxLayout(this);
    BuildControls(rows);
    rows->addWidget(view_, 1);
    rows->addWidget(flash_);
    rows->addWidget(status_);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    connect(model_, &TStreamModel::Batch, view_, &TStreamView::ShowBatch);
    connect(model_, &TStreamModel::LinesEnded, log_, &TLogWriter::WriteLines);
    connect(model_, &TStreamModel::NoteAdded, log_, &TLogWriter::WriteNote);
    connect(log_, &TLogWriter::Failed, this, &TMonitorWindow::SetStatus);
    connect(waiter_, &TDeviceWaiter::Found, this, &TMonitorWindow::DeviceFound);
    connect(waiter_, &TDeviceWaiter::Removed, this, [this](const QString& name) {
        if (port_.Connected() && name == device_.Details.Name)
            LoseDevice(tr("%1 was removed").arg(name));
    });
    connect(sender_, &TSender::FileDone, this, [this](const QString& error) {
        SetStatus(error.isEmpty() ? tr("File sent.") : tr("The file was not sent whole: %1").arg(error));
        UpdateButtons();
    });
    flash_->SetSpeed(choices_.FlashSpeed);
    connect(flash_, &TFlashPanel::FlashRequested, this, &TMonitorWindow::StartFlash);
    connect(flash_, &TFlashPanel::Finished, this, &TMonitorWindow::FlashFinished);
    answerTimer_->setSingleShot(true);
    answerTimer_->setInterval(AnswerMs);
    connect(answerTimer_, &QTimer::timeout, this, [this] { GiveVerdict(nullptr); });
    connect(model_, &TStreamModel::LinesEnded, this, [this] {
        if (awaitingAnswer_ && model_->FirstLine()) {
            const QString line = *model_->FirstLine();
            GiveVerdict(&line);
        }
    });
    ApplyOptions(options);
    flashOnOpen_ = options.Flash;
    if (!flashOnOpen_.isEmpty())
        flash_->SetSpeed(flashOnOpen_);
    UpdateButtons();
    if (!options.Port.isEmpty())
        QMetaObject::invokeMethod(this, &TMonitorWindow::OpenPort, Qt::QueuedConnection);
}

TMonitorWindow::~TMonitorWindow()
{
    // The handlers refer to the window's parts: none may run while it goes.
    port_.OnException = nullptr;
    port_.Close();
}

void TMonitorWindow::BuildControls(QLayout* rows)
{
    auto* line = new QHBoxLayout;
    for (std::size_t i = 0; i < selectors_.size(); ++i) {
        auto* box = new TComComboBox(this);
        box->setObjectName(QStringLiteral("selector%1").arg(i));
        box->SetComProperty(SelectorProperties[i]);
        box->SetComPort(&port_);
        box->SetAutoApply(true);
        connect(box, &TComComboBox::OnChange, this, &TMonitorWindow::RememberChoices);
        line->addWidget(new QLabel(tr(SelectorLabels[i]), this));
        line->addWidget(box, i == 0 ? 2 : 0);
        selectors_[i] = box;
    }
    // A port picked while the line is open is reopened by the component
    // itself: from then on it is the device a reconnect waits for.
    connect(selectors_[0], &TComComboBox::OnChange, this, [this] {
        if (port_.Connected() && !reconnecting_)
            device_ = IdentifyPort(port_.Port());
    });
    MakePortTypable();
    open_ = Button(tr("Open"), QStringLiteral("open"), this);
    close_ = Button(tr("Close"), QStringLiteral("close"), this);
    connect(open_, &QPushButton::clicked, this, [this] {
        ApplyTypedPort();
        OpenPort();
    });
    connect(close_, &QPushButton::clicked, this, &TMonitorWindow::ClosePort);
    line->addWidget(open_);
    line->addWidget(close_);
    noReset_ = new QCheckBox(tr("Open without resetting the board"), this);
    noReset_->setObjectName(QStringLiteral("noReset"));
    noReset_->setToolTip(tr("DTR and RTS stay low when the port opens"));
    connect(noReset_, &QCheckBox::toggled, this, &TMonitorWindow::RememberChoices);
    line->addWidget(noReset_);
    static_cast<QVBoxLayout*>(rows)->addLayout(line);

    auto* view = new QHBoxLayout;
    timestamps_ = new QCheckBox(tr("Timestamps"), this);
    hex_ = new QCheckBox(tr("Hex view"), this);
    connect(timestamps_, &QCheckBox::toggled, this, &TMonitorWindow::SetTimestamps);
    connect(hex_, &QCheckBox::toggled, this, &TMonitorWindow::SetHexVisible);
    auto* copy = Button(tr("Copy all"), QStringLiteral("copyAll"), this);
    auto* save = Button(tr("Save all..."), QStringLiteral("saveAll"), this);
    auto* clear = Button(tr("Clear"), QStringLiteral("clear"), this);
    auto* logTo = Button(tr("Log to file..."), QStringLiteral("logTo"), this);
    logName_ = new QLabel(tr("no log"), this);
    connect(copy, &QPushButton::clicked, view_, &TStreamView::CopyAll);
    connect(save, &QPushButton::clicked, this, &TMonitorWindow::SaveAll);
    connect(clear, &QPushButton::clicked, this, [this] {
        model_->Clear();
        view_->Clear();
    });
    connect(logTo, &QPushButton::clicked, this, &TMonitorWindow::ChooseLogFile);
    for (QWidget* w : std::initializer_list<QWidget*>{timestamps_, hex_, copy, save, clear, logTo, logName_})
        view->addWidget(w);
    view->addStretch();
    view->addWidget(leds_);
    static_cast<QVBoxLayout*>(rows)->addLayout(view);

    auto* send = new QHBoxLayout;
    line_ = new QLineEdit(this);
    line_->setObjectName(QStringLiteral("line"));
    line_->setPlaceholderText(tr("Text to send"));
    ending_ = new QComboBox(this);
    ending_->setObjectName(QStringLiteral("ending"));
    ending_->addItems({tr("No ending"), tr("LF"), tr("CR"), tr("CR LF")});
    ending_->setCurrentIndex(std::clamp(choices_.LineEnding, 0, 3));
    connect(ending_, &QComboBox::currentIndexChanged, this, &TMonitorWindow::RememberChoices);
    connect(line_, &QLineEdit::returnPressed, this, [this] {
        if (SendLine(line_->text()))
            line_->clear();
    });
    hexBytes_ = new QLineEdit(this);
    hexBytes_->setObjectName(QStringLiteral("hexBytes"));
    hexBytes_->setPlaceholderText(tr("Hex bytes: 48 65 0D 0A"));
    connect(hexBytes_, &QLineEdit::returnPressed, this, [this] { SendHex(hexBytes_->text()); });
    sendFile_ = Button(tr("Send file..."), QStringLiteral("sendFile"), this);
    connect(sendFile_, &QPushButton::clicked, this, &TMonitorWindow::SendFile);
    dtr_ = Button(tr("DTR"), QStringLiteral("dtr"), this);
    rts_ = Button(tr("RTS"), QStringLiteral("rts"), this);
    dtr_->setCheckable(true);
    rts_->setCheckable(true);
    // The control settings, not a bare escape: a later re-apply of the line
    // settings keeps the lines where the user put them.
    connect(dtr_, &QPushButton::toggled, this, [this](bool on) {
        port_.FlowControl().SetControlDTR(on ? dtrEnable : dtrDisable);
    });
    connect(rts_, &QPushButton::toggled, this, [this](bool on) {
        if (port_.FlowControl().ControlRTS() != rtsHandshake)
            port_.FlowControl().SetControlRTS(on ? rtsEnable : rtsDisable);
    });
    break_ = Button(tr("Break"), QStringLiteral("break"), this);
    connect(break_, &QPushButton::clicked, this, &TMonitorWindow::SendBreak);
    send->addWidget(line_, 2);
    send->addWidget(ending_);
    send->addWidget(hexBytes_, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{sendFile_, dtr_, rts_, break_})
        send->addWidget(w);
    static_cast<QVBoxLayout*>(rows)->addLayout(send);
}

// The machine's listing has neither pseudo-terminals nor paths such as
// /dev/serial/by-id/... links: the port box takes a typed name, and shows the
// monitor's port even when it is not listed. A pick from the list goes to the
// port through the selector itself.
void TMonitorWindow::MakePortTypable()
{
    TComComboBox* box = selectors_[0];
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->lineEdit()->setPlaceholderText(tr("Port name or path"));
    // A relisting (a port came or went) selects nothing when the monitor's
    // port is not listed, which empties the box.
    connect(box, &QComboBox::currentIndexChanged, this, [this, box](int index) {
        if (index < 0)
            box->setEditText(port_.Port());
    });
    connect(box->lineEdit(), &QLineEdit::returnPressed, this, &TMonitorWindow::ApplyTypedPort);
}

void TMonitorWindow::ShowPortName()
{
    TComComboBox* box = selectors_[0];
    box->ShowPortValue();
    if (box->currentIndex() < 0)
        box->setEditText(port_.Port());
}

// A name typed and not picked from the list: the port is opened there from
// now on (at once when it was open).
void TMonitorWindow::ApplyTypedPort()
{
    const QString name = selectors_[0]->currentText().trimmed();
    if (name.isEmpty() || name == port_.Port())
        return;
    const bool wasOpen = port_.Connected();
    if (wasOpen)
        ClosePort();
    port_.SetPortName(name);
    ShowPortName();
    RememberChoices();
    if (wasOpen)
        OpenPort();
}

void TMonitorWindow::ConnectPort()
{
    // Reads happen on the window's thread, in the port's receive event: a
    // whole chunk at a time, never byte by byte.
    port_.OnRxChar = [this](TCustomComPort*, std::int32_t count) { ReadReceived(count); };
    port_.OnCTSChange = [this](TCustomComPort*, bool on) { leds_->SetLit(llCTS, on); };
    port_.OnDSRChange = [this](TCustomComPort*, bool on) { leds_->SetLit(llDSR, on); };
    port_.OnRLSDChange = [this](TCustomComPort*, bool on) { leds_->SetLit(llRLSD, on); };
    port_.OnRing = [this](TCustomComPort* port) { leds_->SetLit(llRing, port->Signals().Contains(csRing)); };
    port_.OnError = [this](TCustomComPort*, TComErrors errors) {
        leds_->ShowErrors(errors);
        SetStatus(tr("Line errors: %1").arg(LineErrorsText(errors)));
    };
    port_.OnAfterClose = [this](TCustomComPort*) {
        leds_->Clear();
        UpdateButtons();
    };
    port_.OnException = [this](TCustomComPort*, TComErrorCode code, const QString& message, std::int64_t osError,
                               const QString&) { PortException(code, message, osError); };
}

void TMonitorWindow::ApplyOptions(const TMonitorOptions& options)
{
    if (!options.Port.isEmpty())
        port_.SetPortName(options.Port);
    if (options.Speed > 0) {
        port_.SetBaudRate(BaudRateOf(options.Speed));
        port_.SetCustomBaudRate(options.Speed);
    }
    choices_.Timestamps |= options.Timestamps;
    choices_.Hex |= options.Hex;
    choices_.NoReset |= options.NoReset;
    for (TComComboBox* box : selectors_)
        box->ShowPortValue();
    ShowPortName();
    timestamps_->setChecked(choices_.Timestamps);
    hex_->setChecked(choices_.Hex);
    noReset_->setChecked(choices_.NoReset);
    SetTimestamps(choices_.Timestamps);
    SetHexVisible(choices_.Hex);
    if (!options.LogFile.isEmpty() && log_->Open(options.LogFile))
        logName_->setText(options.LogFile);
}

bool TMonitorWindow::OpenPort()
{
    if (port_.Connected())
        return true;
    if (flash_->Running()) {
        SetStatus(tr("The port is lent to avrdude until the flash is over."));
        return false;
    }
    waiter_->Stop();
    ApplyResetChoice();
    leds_->Clear();
    port_.Open();
    if (!port_.Connected()) {
        UpdateButtons();
        return false;
    }
    if (!reconnecting_)
        device_ = IdentifyPort(port_.Port());
    SetStatus(tr("Open: %1 at %2 baud").arg(port_.Port(), SpeedText(port_)));
    RememberChoices();
    UpdateButtons();
    if (!flashOnOpen_.isEmpty()) {
        flashOnOpen_.clear();
        QMetaObject::invokeMethod(this, &TMonitorWindow::StartFlash, Qt::QueuedConnection);
    }
    return true;
}

void TMonitorWindow::ClosePort()
{
    awaitingAnswer_ = false;
    answerTimer_->stop();
    reconnecting_ = false;
    waiter_->Stop();
    sender_->Cancel();
    port_.Close();
    SetStatus(tr("Closed."));
    UpdateButtons();
}

// A board resets when DTR rises at open (its reset pin is wired to it
// through a capacitor): both lines are set as chosen before the device
// opens, so that they never rise when the user asked them not to.
void TMonitorWindow::ApplyResetChoice()
{
    const bool reset = !noReset_->isChecked();
    port_.FlowControl().SetControlDTR(reset ? dtrEnable : dtrDisable);
    if (port_.FlowControl().ControlRTS() == rtsEnable && !reset)
        port_.FlowControl().SetControlRTS(rtsDisable);
    const QSignalBlocker blockDtr(dtr_);
    const QSignalBlocker blockRts(rts_);
    dtr_->setChecked(reset);
    rts_->setChecked(port_.FlowControl().ControlRTS() == rtsEnable);
}

void TMonitorWindow::ReadReceived(std::int32_t count)
{
    readBuffer_.resize(static_cast<std::size_t>(count));
    const std::int32_t read = port_.Read(readBuffer_.data(), count);
    if (read > 0)
        model_->Receive(QByteArrayView(readBuffer_.data(), read), QDateTime::currentDateTime());
}

void TMonitorWindow::PortException(TComErrorCode code, const QString& message, std::int64_t osError)
{
    const QString systemText =
        osError > 0 ? QString::fromStdString(port_.CommLayer().ErrorText(static_cast<Comm::TOsError>(osError)))
                    : QString();
    const QString reason = systemText.isEmpty() ? message : systemText;
    if (code == ecOpenFailed) {
        SetStatus(tr("Cannot open %1: %2").arg(port_.Port(), reason));
        if (reconnecting_)
            waiter_->OpenFailed();
        return;
    }
    // A wait or a read that fails on an open port is a device gone: a
    // board that reset, or a cable pulled. The port is closed once the
    // failing call has returned.
    if ((code == ecWaitFailed || code == ecReadFailed) && port_.Connected()) {
        QMetaObject::invokeMethod(this, [this, reason] { LoseDevice(reason); }, Qt::QueuedConnection);
        return;
    }
    SetStatus(systemText.isEmpty() ? message : tr("%1: %2").arg(message, systemText));
}

void TMonitorWindow::LoseDevice(const QString& reason)
{
    if (!port_.Connected() || reconnecting_)
        return;
    lostAt_ = QDateTime::currentDateTime();
    reconnecting_ = true;
    sender_->Cancel();
    port_.Close();
    Note(tr("%1 lost (%2); waiting for %3").arg(port_.Port(), reason, AwaitedText(device_)));
    SetStatus(tr("Waiting for %1...").arg(AwaitedText(device_)));
    waiter_->Wait(device_);
    UpdateButtons();
}

void TMonitorWindow::DeviceFound(const QString& port)
{
    if (!reconnecting_)
        return;
    {
        // The name changes while the port is closed: no reopening of its own.
        const QSignalBlocker block(selectors_[0]);
        port_.SetPortName(port);
    }
    if (!OpenPort())
        return;
    reconnecting_ = false;
    const double gap = static_cast<double>(lostAt_.msecsTo(QDateTime::currentDateTime())) / 1000.0;
    Note(tr("%1 open again after %2 s").arg(port).arg(gap, 0, 'f', 1));
    ShowPortName();
    emit Reconnected(port);
}

bool TMonitorWindow::StartFlash()
{
    if (flash_->Running() || port_.Port().isEmpty())
        return false;
    // The flasher needs the port to itself: the monitor lets go of it, and
    // of any wait for it, until the flash is over.
    reconnecting_ = false;
    waiter_->Stop();
    sender_->Cancel();
    awaitingAnswer_ = false;
    answerTimer_->stop();
    const QString port = port_.Port();
    port_.Close();
    Note(tr("FLASH at %1: %2 released for avrdude").arg(flash_->Speed(), port));
    QString error;
    if (!flash_->Start(port, startDir_, &error)) {
        const QString verdict = tr("Échec de la mise à jour — avrdude n'a pas démarré : %1").arg(error);
        OpenPort();
        Note(verdict);
        SetStatus(verdict);
        emit FlashVerdictGiven(verdict);
        return false;
    }
    choices_.FlashSpeed = flash_->Speed();
    SetStatus(tr("Flashing %1 at %2...").arg(port, flash_->Speed()));
    UpdateButtons();
    return true;
}

void TMonitorWindow::FlashFinished(int exitStatus, bool normalExit)
{
    const bool good = normalExit && exitStatus == 0;
    if (!good) {
        // The failure's numbers are the flasher's own.
        const QString verdict = FlashVerdict(exitStatus, normalExit, nullptr);
        OpenPort();
        Note(verdict);
        SetStatus(verdict);
        emit FlashVerdictGiven(verdict);
        return;
    }
    // The board starts its new firmware: the same device is opened again at
    // the monitor's speed, and its first line is the answer.
    model_->MarkFirstLine();
    awaitingAnswer_ = true;
    answerTimer_->start();
    if (!OpenPort()) {
        // A board on USB may come back under a new name after the flash.
        lostAt_ = QDateTime::currentDateTime();
        reconnecting_ = true;
        waiter_->Wait(device_);
        SetStatus(tr("Waiting for %1...").arg(AwaitedText(device_)));
    }
    UpdateButtons();
}

void TMonitorWindow::GiveVerdict(const QString* firstLine)
{
    if (!awaitingAnswer_)
        return;
    awaitingAnswer_ = false;
    answerTimer_->stop();
    const QString verdict = FlashVerdict(0, true, firstLine);
    Note(verdict);
    SetStatus(verdict);
    emit FlashVerdictGiven(verdict);
}

void TMonitorWindow::Note(const QString& text)
{
    model_->Note(text, QDateTime::currentDateTime());
}

void TMonitorWindow::SetStatus(const QString& text)
{
    status_->setText(text);
}

QString TMonitorWindow::Status() const
{
    return status_->text();
}

void TMonitorWindow::UpdateButtons()
{
    const bool open = port_.Connected();
    open_->setEnabled(!open);
    close_->setEnabled(open || reconnecting_);
    for (QWidget* w : std::initializer_list<QWidget*>{line_, hexBytes_, dtr_, break_})
        w->setEnabled(open);
    rts_->setEnabled(open && port_.FlowControl().ControlRTS() != rtsHandshake);
    sendFile_->setEnabled(open && !sender_->SendingFile());
    open_->setEnabled(!open && !flash_->Running());
    flash_->SetFlashEnabled(!flash_->Running() && !port_.Port().isEmpty());
}

void TMonitorWindow::SetTimestamps(bool on)
{
    choices_.Timestamps = on;
    model_->SetTimestamps(on);
}

void TMonitorWindow::SetHexVisible(bool on)
{
    choices_.Hex = on;
    view_->SetHexVisible(on);
}

void TMonitorWindow::RememberChoices()
{
    choices_.Timestamps = timestamps_->isChecked();
    choices_.Hex = hex_->isChecked();
    choices_.NoReset = noReset_->isChecked();
    choices_.LineEnding = ending_->currentIndex();
    choices_.FlashSpeed = flash_->Speed();
    StoreMonitorSettings(port_, choices_);
}

bool TMonitorWindow::SendLine(const QString& text)
{
    QString error;
    if (sender_->Send(WithLineEnding(text, static_cast<TLineEnding>(ending_->currentIndex())), &error))
        return true;
    SetStatus(tr("Not sent: %1").arg(error));
    return false;
}

bool TMonitorWindow::SendHex(const QString& text)
{
    QString error;
    const std::optional<QByteArray> bytes = ParseHexBytes(text, &error);
    if (bytes && sender_->Send(*bytes, &error))
        return true;
    SetStatus(tr("Not sent: %1").arg(error));
    return false;
}

void TMonitorWindow::SendFile()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Send a file"));
    if (path.isEmpty())
        return;
    QString error;
    if (!sender_->SendFile(path, &error))
        SetStatus(tr("Not sent: %1").arg(error));
    UpdateButtons();
}

void TMonitorWindow::SendBreak()
{
    port_.SetBreak(true);
    QTimer::singleShot(BreakMs, this, [this] {
        if (port_.Connected())
            port_.SetBreak(false);
    });
}

void TMonitorWindow::ChooseLogFile()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Log to file"), log_->FileName());
    if (path.isEmpty())
        return;
    logName_->setText(log_->Open(path) ? path : tr("no log"));
}

void TMonitorWindow::SaveAll()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save all"));
    if (path.isEmpty())
        return;
    const QString error = view_->SaveAll(path);
    SetStatus(error.isEmpty() ? tr("Saved to %1").arg(path) : tr("Not saved: %1").arg(error));
}

void TMonitorWindow::closeEvent(QCloseEvent* event)
{
    RememberChoices();
    QWidget::closeEvent(event);
}
