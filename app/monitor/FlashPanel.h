#pragma once

// The FLASH action's part of the monitor's window: the boot loader's speed
// (which picks the firmware image), the button, avrdude's output and its
// progress bar. The window lends the port for the run and takes it back.

#include <QWidget>

class QComboBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class TFlashSession;

class TFlashPanel : public QWidget {
    Q_OBJECT

public:
    explicit TFlashPanel(QWidget* parent = nullptr);
    ~TFlashPanel() override;

    QString Speed() const;
    void SetSpeed(const QString& speed);
    // Runs avrdude on port in workingDir; false with the reason when it
    // could not start.
    bool Start(const QString& port, const QString& workingDir, QString* error);
    bool Running() const { return running_; }
    void SetFlashEnabled(bool enabled);
    QString Output() const;

signals:
    void FlashRequested();
    void Finished(int exitStatus, bool normalExit);

private:
    QComboBox* speed_;
    QPushButton* flash_;
    QProgressBar* progress_;
    QPlainTextEdit* output_;
    TFlashSession* session_;
    bool running_ = false;
};

// The verdict line of one flash: success with the board's first line (or
// its silence), or the failure with avrdude's exit status.
QString FlashVerdict(int exitStatus, bool normalExit, const QString* firstLine);
