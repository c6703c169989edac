#pragma once

#include "FlashProgress.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QSocketNotifier;
class TPtyProcess;

// One run of the flasher for the monitor: avrdude with the tool's own
// command line, on a pseudo-terminal so that it draws its progress, its
// output read line by line as it comes and its progress bar read as numbers.
// The bars of avrdude 6.x and 7.x are read (FlashProgress.h). A session may be
// started again once it finished; one that is to go away from inside one of
// its own signals goes with deleteLater.
class TFlashSession : public QObject {
    Q_OBJECT
public:
    explicit TFlashSession(QObject* parent = nullptr);
    // A flasher still running is ended (asked, then killed after a bound)
    // and collected.
    ~TFlashSession() override;

    // Starts avrdude for port and speed ("57600" flashes datalogger_new.hex,
    // "28800" datalogger_old.hex) in workingDir. False, with the system's
    // text in *error, when it cannot start.
    bool Start(const QString& port, const QString& speed, const QString& workingDir, QString* error);
    // From a successful Start until Finished is emitted.
    bool IsRunning() const;
    // Asks the flasher to end; killed if it has not after a bound. Finished
    // follows as for any end.
    void Cancel();

signals:
    // Each line the flasher prints, progress bars left out.
    void Output(const QString& line);
    // Each new state of its progress bar, phase as it names it.
    void Progress(int percent, const QString& phase);
    // Its end: the exit status, or with normalExit false the signal that
    // ended it.
    void Finished(int exitStatus, bool normalExit);

private:
    void ReadOutput();
    void TakeLines(const QStringList& lines);
    void ReportProgress(const TFlashProgress& progress);
    void EndOfOutput();
    void CollectExit();
    void FinishWhenDone();

    std::unique_ptr<TPtyProcess> process_;
    QSocketNotifier* outputNotifier_ = nullptr;
    QSocketNotifier* exitNotifier_ = nullptr;
    TFlashOutputSplitter splitter_;
    std::optional<TFlashProgress> lastProgress_;
    bool outputEnded_ = false;
    bool exited_ = false;
    int exitStatus_ = 0;
    bool normalExit_ = true;
    // Cancel's bound before the flasher is killed.
    QTimer killTimer_;
    // A program that ended but left something holding its terminal (a child
    // of its own) has its output given up after this bound.
    QTimer outputTimer_;
};
