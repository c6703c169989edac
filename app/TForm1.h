#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TForm1;
}

// The main window: heading, port selector, speed list and the FLASH button.
class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The FLASH action.
    void Button1Click();

private:
    void ApplyLook();

    std::unique_ptr<Ui::TForm1> ui_;
};

// The system's text for an error, as the message box shows it: trailing
// characters of code 32 or less and full stops removed.
QString FlashErrorText(int error);
