#include "FlashSession.h"

#include "CommandLine.h"
#include "FlashCommand.h"
#include "FlashStart.h"
#include "PtyProcess.h"
#include "SystemError.h"

#include <QFile>
#include <QSocketNotifier>

namespace {

// How long an ended flasher has to let go before it is killed: long enough
// for it to leave the boot loader cleanly, short enough that a window closing
// over it does not seem to hang.
constexpr int StopGraceMs = 1000;
// How long the output of a flasher that ended may stay open (something it
// started still holding the terminal) before it is given up.
constexpr int OutputAfterExitMs = 2000;
// A burst of output is taken in bounded slices, so the event loop goes on
// between them.
constexpr int ReadsPerWakeUp = 16;

QString StartErrorText(const TPtyStartError& failure, const QString& workingDir)
{
    const QString text = QString::fromStdString(Platform::SystemErrorText(failure.error));
    switch (failure.step) {
    case TPtyStartStep::Program:
        return QStringLiteral("%1: %2").arg(QLatin1String(Platform::FlasherFileName), text);
    case TPtyStartStep::Directory:
        return QStringLiteral("%1: %2").arg(workingDir, text);
    default:
        return text;
    }
}

} // namespace

TFlashSession::TFlashSession(QObject* parent) : QObject(parent)
{
    killTimer_.setSingleShot(true);
    connect(&killTimer_, &QTimer::timeout, this, [this] {
        if (process_)
            process_->Kill();
    });
    outputTimer_.setSingleShot(true);
    connect(&outputTimer_, &QTimer::timeout, this, [this] {
        if (outputEnded_)
            return;
        ReadOutput();
        if (!outputEnded_)
            EndOfOutput();
    });
}

TFlashSession::~TFlashSession()
{
    // The notifiers go before the descriptors they watch are closed.
    delete outputNotifier_;
    delete exitNotifier_;
    if (process_)
        process_->Stop(StopGraceMs);
}

bool TFlashSession::Start(const QString& port, const QString& speed, const QString& workingDir, QString* error)
{
    if (IsRunning()) {
        if (error)
            *error = QString::fromStdString(Platform::SystemErrorText(EBUSY));
        return false;
    }
    // The same pieces as the main window's FLASH, split as its launcher
    // splits them.
    const std::vector<std::string> arguments =
        SplitCommandLine(FlashParameterLine(port, speed).toLocal8Bit().toStdString());
    auto process = std::make_unique<TPtyProcess>();
    const TPtyStartError failure =
        process->Start(Platform::FlasherFileName, arguments, QFile::encodeName(workingDir).toStdString());
    if (failure.step != TPtyStartStep::None) {
        if (error)
            *error = StartErrorText(failure, workingDir);
        return false;
    }
    process_ = std::move(process);
    splitter_ = {};
    lastProgress_.reset();
    outputEnded_ = false;
    exited_ = false;

    outputNotifier_ = new QSocketNotifier(process_->OutputHandle(), QSocketNotifier::Read, this);
    connect(outputNotifier_, &QSocketNotifier::activated, this, &TFlashSession::ReadOutput);
    if (process_->ExitHandle() >= 0) {
        exitNotifier_ = new QSocketNotifier(process_->ExitHandle(), QSocketNotifier::Read, this);
        connect(exitNotifier_, &QSocketNotifier::activated, this, &TFlashSession::CollectExit);
    }
    return true;
}

bool TFlashSession::IsRunning() const
{
    return process_ != nullptr;
}

void TFlashSession::Cancel()
{
    if (!process_ || exited_)
        return;
    process_->Terminate();
    killTimer_.start(StopGraceMs);
}

void TFlashSession::ReadOutput()
{
    if (!process_ || outputEnded_)
        return;
    char buffer[4096];
    for (int i = 0; i < ReadsPerWakeUp; ++i) {
        const long n = process_->Read(buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            EndOfOutput();
            return;
        }
        TakeLines(splitter_.Feed(QByteArrayView(buffer, n)));
    }
    // A bar state shows before the redraw that ends it.
    if (const auto progress = ParseFlashProgress(splitter_.Pending()))
        ReportProgress(*progress);
}

void TFlashSession::TakeLines(const QStringList& lines)
{
    for (const QString& line : lines) {
        if (const auto progress = ParseFlashProgress(line)) {
            ReportProgress(*progress);
            continue;
        }
        // The blank lines are the flasher's spacing around its bars.
        if (!line.trimmed().isEmpty())
            emit Output(line);
    }
}

void TFlashSession::ReportProgress(const TFlashProgress& progress)
{
    if (lastProgress_ == progress)
        return;
    lastProgress_ = progress;
    emit Progress(progress.percent, progress.phase);
}

void TFlashSession::EndOfOutput()
{
    outputEnded_ = true;
    outputTimer_.stop();
    TakeLines({splitter_.TakePending()});
    // Deleted later: this may run inside the notifier's own signal.
    outputNotifier_->setEnabled(false);
    outputNotifier_->deleteLater();
    outputNotifier_ = nullptr;
    process_->CloseOutput();
    if (!exitNotifier_) {
        // Without a process descriptor the terminal's end stands for the
        // program's: it closed its last descriptor on the way out.
        TPtyExit exit {-1, false};
        process_->Collect(true, exit);
        exited_ = true;
        exitStatus_ = exit.status;
        normalExit_ = exit.normal;
    }
    FinishWhenDone();
}

void TFlashSession::CollectExit()
{
    // Quiet before the descriptor it watches closes with the collection;
    // deleted later, as this runs inside its own signal.
    exitNotifier_->setEnabled(false);
    TPtyExit exit;
    if (!process_->Collect(false, exit)) {
        exitNotifier_->setEnabled(true);
        return;
    }
    exitNotifier_->deleteLater();
    exitNotifier_ = nullptr;
    exited_ = true;
    exitStatus_ = exit.status;
    normalExit_ = exit.normal;
    killTimer_.stop();
    // What it printed last is still on its way through the terminal.
    if (!outputEnded_)
        outputTimer_.start(OutputAfterExitMs);
    FinishWhenDone();
}

void TFlashSession::FinishWhenDone()
{
    if (!outputEnded_ || !exited_)
        return;
    killTimer_.stop();
    outputTimer_.stop();
    process_.reset();
    // Last: a receiver may start the next session straight away.
    emit Finished(exitStatus_, normalExit_);
}
