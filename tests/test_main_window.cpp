// The main window on the offscreen platform: layout, texts, fonts, tab order
// and the port selector's state when the window opens.
#include "ComComboBox.h"
#include "ComPortNames.h"
#include "TApplication.h"
#include "TForm1.h"

#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class MachinePorts {
public:
    explicit MachinePorts(const QStringList& names)
    {
        QDir(root.path()).mkpath("tty");
        for (const QString& name : names)
            QDir(root.path()).mkpath("tty/" + name + "/device");
        previous = DefaultPortSource();
        SetDefaultPortSource(TPortSource{root.path() + "/tty", "/dev"});
    }
    ~MachinePorts() { SetDefaultPortSource(previous); }

    QTemporaryDir root;
    TPortSource previous;
};

template <typename T>
T* Child(const QWidget& form, const char* name)
{
    T* child = form.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << "no " << name;
    return child;
}

TEST(MainWindow, LayoutAndTexts)
{
    MachinePorts ports({"ttyUSB0"});
    TForm1 form;
    EXPECT_EQ(form.windowTitle(), "ZORBEL DATALOGGER FLASH");
    EXPECT_EQ(form.pos(), QPoint(307, 224));
    EXPECT_EQ(form.size(), QSize(572, 328)) << "the client area of a 580 x 355 window";
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(128, 128, 128));

    struct Expected {
        const char* name;
        QRect geometry;
        const char* text;
    };
    const Expected labels[] = {{"Label3", QRect(104, 56, 369, 24), "Mise a jour firmware datalogger zorbel "},
                               {"Label1", QRect(96, 104, 137, 24), "Choisir le port "},
                               {"Label2", QRect(328, 104, 158, 24), "Choisir la vitesse"}};
    for (const Expected& e : labels) {
        auto* label = Child<QLabel>(form, e.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->geometry(), e.geometry) << e.name;
        EXPECT_EQ(label->text(), e.text) << e.name;
        EXPECT_EQ(label->font().pixelSize(), 19) << e.name;
        EXPECT_TRUE(label->font().bold()) << e.name;
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::white)) << e.name;
    }
    auto* button = Child<QPushButton>(form, "Button1");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->geometry(), QRect(208, 192, 161, 73));
    EXPECT_EQ(button->text(), "FLASH");
    EXPECT_EQ(button->font().pixelSize(), 23);
    EXPECT_FALSE(button->font().bold());
    EXPECT_EQ(form.font().pixelSize(), 11);

    auto* speeds = Child<QComboBox>(form, "ComboBox1");
    auto* port = Child<TComComboBox>(form, "ComboBox2");
    ASSERT_TRUE(speeds && port);
    EXPECT_EQ(speeds->geometry(), QRect(328, 136, 145, 19));
    EXPECT_EQ(port->geometry(), QRect(96, 136, 145, 21));
    EXPECT_FALSE(speeds->isEditable());
    EXPECT_FALSE(port->isEditable());
    EXPECT_EQ(speeds->count(), 2);
    EXPECT_EQ(speeds->itemText(0), "57600");
    EXPECT_EQ(speeds->itemText(1), "28800");
    EXPECT_EQ(speeds->currentIndex(), -1) << "no speed is selected at start";
    EXPECT_EQ(speeds->currentText(), "");
    EXPECT_EQ(speeds->itemDelegate()->sizeHint(QStyleOptionViewItem(), speeds->model()->index(0, 0)).height(), 13);
    EXPECT_EQ(port->ComProperty(), cpPort);
    EXPECT_TRUE(port->AutoApply());
    EXPECT_EQ(port->ComPort(), nullptr);
}

TEST(MainWindow, TabOrderRunsFlashSpeedPort)
{
    MachinePorts ports({"ttyUSB0"});
    TForm1 form;
    QStringList order;
    QWidget* widget = Child<QWidget>(form, "Button1");
    for (int i = 0; i < 20 && order.size() < 3; ++i) {
        if (widget->focusPolicy() & Qt::TabFocus)
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    }
    EXPECT_EQ(order, QStringList({"Button1", "ComboBox1", "ComboBox2"}));
}

TEST(MainWindow, OpensWithTheFirstPortSelected)
{
    MachinePorts ports({"ttyUSB1", "ttyACM0", "ttyUSB0"});
    TForm1 form;
    auto* port = Child<TComComboBox>(form, "ComboBox2");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->count(), 3);
    EXPECT_EQ(port->Text(), "/dev/ttyACM0");
}

TEST(MainWindow, OpensWithAnEmptySelectorWithoutPorts)
{
    MachinePorts ports({});
    TForm1 form;
    auto* port = Child<TComComboBox>(form, "ComboBox2");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->count(), 0);
    EXPECT_EQ(port->Text(), "");
    EXPECT_EQ(port->currentText(), "");
}

// An object whose event handler fails.
class FailingReceiver : public QObject {
protected:
    bool event(QEvent*) override { throw std::runtime_error("handler failed"); }
};

TEST(Application, ExceptionFromAnEventHandlerIsShownAndTheProgramGoesOn)
{
    auto* application = dynamic_cast<TApplication*>(QCoreApplication::instance());
    ASSERT_NE(application, nullptr) << "the tests run with the tool's application object";
    QStringList shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown << box->windowTitle() + "|" + box->text();
            box->accept();
        }
    });
    FailingReceiver receiver;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&receiver, &event));
    EXPECT_EQ(shown, QStringList{QString("zorbel-flash|handler failed")});
}

} // namespace
