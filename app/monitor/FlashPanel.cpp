#include "FlashPanel.h"

#include "FlashSession.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TFlashPanel::TFlashPanel(QWidget* parent)
    : QWidget(parent), speed_(new QComboBox(this)), flash_(new QPushButton(tr("FLASH"), this)),
      progress_(new QProgressBar(this)), output_(new QPlainTextEdit(this)), session_(new TFlashSession(this))
{
    speed_->setObjectName(QStringLiteral("flashSpeed"));
    speed_->addItems({QStringLiteral("57600"), QStringLiteral("28800")});
    speed_->setToolTip(tr("57600: datalogger_new.hex, 28800: datalogger_old.hex"));
    flash_->setObjectName(QStringLiteral("flash"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    output_->setObjectName(QStringLiteral("flashOutput"));
    output_->setReadOnly(true);
    output_->setMaximumBlockCount(2000);
    output_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    output_->setMaximumHeight(110);
    output_->hide();

    auto* row = new QHBoxLayout;
    row->addWidget(speed_);
    row->addWidget(flash_);
    row->addWidget(progress_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(row);
    layout->addWidget(output_);

    connect(flash_, &QPushButton::clicked, this, &TFlashPanel::FlashRequested);
    connect(session_, &TFlashSession::Output, output_, &QPlainTextEdit::appendPlainText);
    connect(session_, &TFlashSession::Progress, this, [this](int percent, const QString& phase) {
        progress_->setValue(percent);
        progress_->setFormat(phase + QStringLiteral(" %p%"));
    });
    connect(session_, &TFlashSession::Finished, this, [this](int exitStatus, bool normalExit) {
        running_ = false;
        emit Finished(exitStatus, normalExit);
    });
}

TFlashPanel::~TFlashPanel() = default;

QString TFlashPanel::Speed() const
{
    return speed_->currentText();
}

void TFlashPanel::SetSpeed(const QString& speed)
{
    const int index = speed_->findText(speed);
    if (index >= 0)
        speed_->setCurrentIndex(index);
}

bool TFlashPanel::Start(const QString& port, const QString& workingDir, QString* error)
{
    output_->clear();
    output_->show();
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("%p%"));
    running_ = session_->Start(port, Speed(), workingDir, error);
    return running_;
}

void TFlashPanel::SetFlashEnabled(bool enabled)
{
    flash_->setEnabled(enabled);
    speed_->setEnabled(enabled);
}

QString TFlashPanel::Output() const
{
    return output_->toPlainText();
}

QString FlashVerdict(int exitStatus, bool normalExit, const QString* firstLine)
{
    if (!normalExit)
        return QObject::tr("Échec de la mise à jour — avrdude interrompu par le signal %1").arg(exitStatus);
    if (exitStatus != 0)
        return QObject::tr("Échec de la mise à jour — avrdude a terminé avec le code %1").arg(exitStatus);
    if (!firstLine)
        return QObject::tr("Mise à jour réussie — la carte n'a encore rien dit");
    return QObject::tr("Mise à jour réussie — la carte répond : %1").arg(*firstLine);
}
