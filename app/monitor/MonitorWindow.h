#pragma once

// The monitor's window: the line chosen with the component's selectors, the
// received stream as text and hex, the log, sending, the line's lamps, the
// wait for a vanished board to come back, and the FLASH action that lends
// the port to the flasher and takes it back.

#include "ComPort.h"
#include "DeviceWaiter.h"
#include "MonitorOptions.h"
#include "MonitorSettings.h"

#include <QDateTime>
#include <QWidget>

#include <array>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TComComboBox;
class TFlashPanel;
class TLineLeds;
class TLogWriter;
class TSender;
class TStreamModel;
class TStreamView;

class TMonitorWindow : public QWidget {
    Q_OBJECT

public:
    explicit TMonitorWindow(const TMonitorOptions& options, Comm::TCommLayer& layer = Comm::DefaultCommLayer(),
                            QWidget* parent = nullptr);
    ~TMonitorWindow() override;

    // Opens the port chosen; false, the system's reason shown, when it
    // could not.
    bool OpenPort();
    void ClosePort();
    // Sends text with the ending chosen, or hex bytes; false, the reason
    // shown, when nothing went.
    bool SendLine(const QString& text);
    bool SendHex(const QString& text);
    void SetTimestamps(bool on);
    void SetHexVisible(bool on);
    // The FLASH action: releases the port, runs avrdude with the speed
    // chosen, then opens the same board again and waits for its first line.
    // False, the reason shown, when the flash could not start.
    bool StartFlash();
    TFlashPanel& Flash() const { return *flash_; }

    TCustomComPort& Port() { return port_; }
    TStreamView& View() const { return *view_; }
    TLineLeds& Leds() const { return *leds_; }
    TLogWriter& Log() const { return *log_; }
    const TDeviceWaiter& Waiter() const { return *waiter_; }
    // The status line: what is open, what failed, what is awaited.
    QString Status() const;

signals:
    // The port was opened again after it vanished.
    void Reconnected(const QString& port);
    // One per flash, as shown and logged.
    void FlashVerdictGiven(const QString& verdict);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls(QLayout* rows);
    void MakePortTypable();
    void ShowPortName();
    void ApplyTypedPort();
    void ConnectPort();
    void ApplyOptions(const TMonitorOptions& options);
    void ApplyResetChoice();
    void ReadReceived(std::int32_t count);
    void PortException(TComErrorCode code, const QString& message, std::int64_t osError);
    void LoseDevice(const QString& reason);
    void DeviceFound(const QString& port);
    void Note(const QString& text);
    void SetStatus(const QString& text);
    void UpdateButtons();
    void RememberChoices();
    void ChooseLogFile();
    void SaveAll();
    void SendFile();
    void SendBreak();
    void FlashFinished(int exitStatus, bool normalExit);
    void GiveVerdict(const QString* firstLine);

    TCustomComPort port_;
    TMonitorChoices choices_;
    TStreamModel* model_;
    TStreamView* view_;
    TLogWriter* log_;
    TSender* sender_;
    TDeviceWaiter* waiter_;
    TLineLeds* leds_;
    QLabel* status_;
    std::array<TComComboBox*, 6> selectors_{};
    QPushButton* open_ = nullptr;
    QPushButton* close_ = nullptr;
    QCheckBox* noReset_ = nullptr;
    QCheckBox* timestamps_ = nullptr;
    QCheckBox* hex_ = nullptr;
    QLineEdit* line_ = nullptr;
    QComboBox* ending_ = nullptr;
    QLineEdit* hexBytes_ = nullptr;
    QPushButton* dtr_ = nullptr;
    QPushButton* rts_ = nullptr;
    QPushButton* break_ = nullptr;
    QPushButton* sendFile_ = nullptr;
    QLabel* logName_ = nullptr;
    // What the port had behind it when the user opened it: the only device
    // ever opened again without the user.
    TAwaitedDevice device_;
    bool reconnecting_ = false;
    QDateTime lostAt_;
    std::vector<char> readBuffer_;
    TFlashPanel* flash_;
    // avrdude runs in the folder the monitor was started in, where the
    // firmware images are.
    QString startDir_;
    QString flashOnOpen_;
    // After a good flash: the board's first line is awaited, a bounded time.
    bool awaitingAnswer_ = false;
    QTimer* answerTimer_;
};
