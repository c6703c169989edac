#include "TForm1.h"

#include "ui_TForm1.h"

#include "Component.h"
#include "FixedItemDelegate.h"
#include "FlashCommand.h"
#include "FlashLauncher.h"
#include "TApplication.h"
#include "FlashErrorText.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdint>

namespace {

constexpr QPoint StoredPosition(307, 224);

// The layout's faces and character heights in pixels (at 96 pixels per inch).
QFont LayoutFont(int pixelHeight, bool bold)
{
    QFont font;
    // Where the face is missing, a face of the same metrics stands in (the
    // layout's sizes were made for them), and failing all, the system's sans.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica"),
                      QStringLiteral("sans-serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

// A terminal for the flasher's own window exists only on a real desktop.
bool DesktopOffersTerminal()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform == QLatin1String("wayland");
}

} // namespace

QString FlashErrorText(int error)
{
    return QString::fromStdString(Platform::FlashErrorText(static_cast<std::uint32_t>(error)));
}

TForm1::TForm1(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::TForm1>())
{
    {
        // The selector's stored properties are applied in stored order; the
        // selections they request take effect when the layout is complete.
        TLayoutLoading loading;
        ui_->setupUi(this);
    }
    // The layout's position of a top-level window is not applied by setupUi.
    move(StoredPosition);
    ApplyLook();
    connect(ui_->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

TForm1::~TForm1() = default;

void TForm1::ApplyLook()
{
    setFont(LayoutFont(11, false));
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(128, 128, 128));
    setPalette(background);
    setAutoFillBackground(true);

    for (QLabel* label : {ui_->Label3, ui_->Label1, ui_->Label2}) {
        label->setFont(LayoutFont(19, true));
        QPalette white = label->palette();
        white.setColor(QPalette::WindowText, Qt::white);
        label->setPalette(white);
    }
    ui_->Button1->setFont(LayoutFont(23, false));

    for (QComboBox* list : {static_cast<QComboBox*>(ui_->ComboBox1), static_cast<QComboBox*>(ui_->ComboBox2)})
        list->setItemDelegate(new TFixedItemDelegate(13, 2, list));
}

void TForm1::Button1Click()
{
    const QString speed = ui_->ComboBox1->currentText();
    const QString line = FlashParameterLine(ui_->ComboBox2->Text(), speed);
    const int error =
        StartFlasher(line, DesktopOffersTerminal(), FindReportHelper(QCoreApplication::applicationDirPath()));
    if (error == 0)
        return;
    QMessageBox box(QMessageBox::NoIcon, TApplication::MessageCaption(), FlashErrorText(error),
                    QMessageBox::Ok, this);
    box.exec();
}
