// The port property selector on real widgets: lists, linking, user picks,
// errors from the port, free notification, and the library's start-up data.
#include "ApplicationException.h"
#include "ComComboBox.h"
#include "ComCtlLibrary.h"
#include "ComPortNames.h"
#include "PortFixture.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The machine's ports, as a tty class directory of the test's own.
class FakePorts {
public:
    explicit FakePorts(const QStringList& names)
    {
        QDir(root.path()).mkpath("tty");
        for (const QString& name : names) {
            QDir(root.path()).mkpath("tty/" + name + "/device");
        }
        previous = DefaultPortSource();
        SetDefaultPortSource(TPortSource{root.path() + "/tty", "/dev"});
    }
    ~FakePorts() { SetDefaultPortSource(previous); }

    void Add(const QString& name) { QDir(root.path()).mkpath("tty/" + name + "/device"); }

    QTemporaryDir root;
    TPortSource previous;
};

QStringList Items(const QComboBox& box)
{
    QStringList items;
    for (int i = 0; i < box.count(); ++i)
        items << box.itemText(i);
    return items;
}

// A user's pick: the arrow key on a closed drop-down list.
void PickNext(QComboBox& box)
{
    QTest::keyClick(&box, Qt::Key_Down);
}

TEST(Selector, NewSelectorIsAnEmptyChooseOnlyList)
{
    TComComboBox box;
    EXPECT_FALSE(box.isEditable());
    EXPECT_EQ(box.ComProperty(), cpNone);
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.ComPort(), nullptr);
    EXPECT_FALSE(box.AutoApply());
    EXPECT_EQ(box.Text(), "");
    const TComSelect& s = box.Selector();
    EXPECT_EQ(s.ChosenPort, "");
    EXPECT_EQ(s.ChosenBaudRate, brCustom);
    EXPECT_EQ(s.ChosenFlowControl, fcHardware);
}

TEST(Selector, EachPropertyListsItsValuesAndSelectsTheFirst)
{
    TComComboBox box;
    box.SetComProperty(cpBaudRate);
    EXPECT_EQ(box.count(), 16);
    EXPECT_EQ(box.itemText(0), "Custom");
    EXPECT_EQ(box.itemText(15), "256000");
    EXPECT_EQ(box.currentIndex(), 0);
    box.SetComProperty(cpDataBits);
    EXPECT_EQ(Items(box), QStringList({"5", "6", "7", "8"}));
    box.SetComProperty(cpStopBits);
    EXPECT_EQ(Items(box), QStringList({"1", "1.5", "2"}));
    box.SetComProperty(cpParity);
    EXPECT_EQ(Items(box), QStringList({"None", "Odd", "Even", "Mark", "Space"}));
    box.SetComProperty(cpFlowControl);
    EXPECT_EQ(Items(box), QStringList({"Hardware", "Software", "None", "Custom"}));
    EXPECT_EQ(box.Text(), "Hardware");
    box.SetComProperty(cpNone);
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.Text(), "");
}

TEST(Selector, PortListIsReadAgainEachTimeThePropertyIsWritten)
{
    FakePorts ports({"ttyUSB2", "ttyUSB1"});
    TComComboBox box;
    box.SetComProperty(cpPort);
    EXPECT_EQ(Items(box), QStringList({"/dev/ttyUSB1", "/dev/ttyUSB2"}));
    EXPECT_EQ(box.Text(), "/dev/ttyUSB1");
    ports.Add("ttyACM0");
    box.setCurrentIndex(1);
    EXPECT_EQ(box.count(), 2) << "ports appearing later are not listed on their own";
    box.SetComProperty(cpPort);
    EXPECT_EQ(Items(box), QStringList({"/dev/ttyACM0", "/dev/ttyUSB1", "/dev/ttyUSB2"}));
    EXPECT_EQ(box.currentIndex(), 0);
}

TEST(Selector, NoPortsLeavesAnEmptyList)
{
    FakePorts ports({});
    TComComboBox box;
    box.SetComProperty(cpPort);
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(box.Text(), "");
}

TEST(Selector, TextSelectsIgnoringCaseOrChangesNothing)
{
    TComComboBox box;
    box.SetComProperty(cpParity);
    box.SetText("even");
    EXPECT_EQ(box.Text(), "Even");
    box.SetText("Evens");
    EXPECT_EQ(box.Text(), "Even");
    box.setCurrentIndex(-1);
    EXPECT_EQ(box.Text(), "");
}

class LinkedSelector : public PortOnFakeDevice {
protected:
    LinkedSelector() { port.SetEvents({}); }

    TComComboBox box;
    QStringList seen;
};

TEST_F(LinkedSelector, SwitchingSelectsThePortsValue)
{
    port.SetBaudRate(br57600);
    port.FlowControl().SetFlowControl(fcSoftware);
    box.SetComPort(&port);
    box.SetComProperty(cpBaudRate);
    EXPECT_EQ(box.Text(), "57600");
    EXPECT_EQ(box.Selector().ChosenBaudRate, br57600);
    box.SetComProperty(cpFlowControl);
    EXPECT_EQ(box.Text(), "Software");
    box.SetComProperty(cpStopBits);
    EXPECT_EQ(box.Text(), "1");
}

TEST_F(LinkedSelector, PortNameFoundInAnyCaseTakesTheListsCase)
{
    FakePorts ports({"ttyUSB0", "ttyUSB1"});
    port.SetPortName("/DEV/TTYUSB1");
    box.SetComPort(&port);
    box.SetComProperty(cpPort);
    EXPECT_EQ(box.Text(), "/dev/ttyUSB1");
    EXPECT_EQ(box.Selector().ChosenPort, "/dev/ttyUSB1");

    port.SetPortName("/dev/ttyNOTLISTED");
    box.SetComProperty(cpPort);
    EXPECT_EQ(box.currentIndex(), -1) << "a value with no entry selects nothing";
}

TEST_F(LinkedSelector, LinkingShowsTheValueAndRelinkingTheSamePortDoesNothing)
{
    box.SetComProperty(cpDataBits);
    box.setCurrentIndex(0);
    port.SetDataBits(dbSix);
    box.SetComPort(&port);
    EXPECT_EQ(box.Text(), "6");
    box.setCurrentIndex(3);
    box.SetComPort(&port);
    EXPECT_EQ(box.Text(), "8") << "the same port again leaves the selection";
    box.SetComPort(nullptr);
    EXPECT_EQ(box.Text(), "8") << "unlinking leaves the selection";
}

TEST_F(LinkedSelector, PickWithAutoApplyChangesThePortBeforeOnChange)
{
    box.SetComProperty(cpBaudRate);
    box.SetComPort(&port);
    box.SetAutoApply(true);
    QObject::connect(&box, &TComComboBox::OnChange,
                     [&] { seen << QString("OnChange with port at %1").arg(BaudRateText(port.BaudRate())); });
    PickNext(box);
    EXPECT_EQ(box.Text(), "14400");
    EXPECT_EQ(port.BaudRate(), br14400);
    EXPECT_EQ(seen, QStringList{"OnChange with port at 14400"});
}

TEST_F(LinkedSelector, PickWithoutAutoApplyOnlyRecords)
{
    box.SetComProperty(cpParity);
    box.SetComPort(&port);
    QSignalSpy changes(&box, &TComComboBox::OnChange);
    PickNext(box);
    EXPECT_EQ(box.Selector().ChosenParity, prOdd);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(LinkedSelector, ChoicesOfEveryKindReachAnOpenPort)
{
    port.Open();
    box.SetComPort(&port);
    box.SetAutoApply(true);
    box.SetComProperty(cpStopBits);
    PickNext(box);
    EXPECT_EQ(device.States().back().StopBits, Comm::One5StopBits);
    box.SetComProperty(cpFlowControl);
    box.setCurrentIndex(0);
    PickNext(box);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
    EXPECT_EQ(device.States().back().Flags & (Comm::dcb_OutX | Comm::dcb_InX), Comm::dcb_OutX | Comm::dcb_InX);
}

TEST_F(LinkedSelector, RefusedChoiceSkipsOnChangeAndReachesTheApplication)
{
    QStringList shown;
    const TApplicationExceptionHandler previous =
        SetApplicationExceptionHandler([&](QObject*, const char* message) { shown << message; });
    port.Open();
    box.SetComProperty(cpDataBits);
    box.SetComPort(&port);
    box.SetAutoApply(true);
    box.setCurrentIndex(0);
    QSignalSpy changes(&box, &TComComboBox::OnChange);
    device.Fail("SetCommState", 22);
    PickNext(box);
    SetApplicationExceptionHandler(previous);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(shown, QStringList{"SetCommState function failed (Error: 22)"});
    EXPECT_EQ(box.Text(), "6") << "the pick stays selected";
    EXPECT_EQ(box.Selector().ChosenDataBits, dbSix) << "and recorded";
    EXPECT_TRUE(port.Connected());
}

TEST(SelectorPicks, UnlinkedPickCallsOnChangeOnce)
{
    TComComboBox box;
    box.SetComProperty(cpStopBits);
    box.SetAutoApply(true);
    QSignalSpy changes(&box, &TComComboBox::OnChange);
    PickNext(box);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(box.Selector().ChosenStopBits, sbOneAndHalf);
    box.setCurrentIndex(2);
    EXPECT_EQ(changes.count(), 1) << "a selection by the program is no pick";
}

TEST(SelectorLinks, DestroyedPortUnlinksAndSelectsTheFirstEntry)
{
    TFakeCommLayer device;
    TComComboBox box;
    box.SetComProperty(cpBaudRate);
    auto* port = new TCustomComPort(nullptr, device);
    box.SetComPort(port);
    EXPECT_EQ(box.Text(), "9600");
    delete port;
    EXPECT_EQ(box.ComPort(), nullptr);
    EXPECT_EQ(box.currentIndex(), 0);
}

TEST(SelectorLinks, PortLinkedEarlierAndReplacedHasNoEffect)
{
    TFakeCommLayer device;
    TComComboBox box;
    box.SetComProperty(cpBaudRate);
    auto* earlier = new TCustomComPort(nullptr, device);
    TCustomComPort later(nullptr, device);
    later.SetBaudRate(br38400);
    box.SetComPort(earlier);
    box.SetComPort(&later);
    delete earlier;
    EXPECT_EQ(box.ComPort(), &later);
    EXPECT_EQ(box.Text(), "38400");
}

TEST(SelectorLinks, PortOwnedByTheSameParentGoingFirstIsSafe)
{
    TFakeCommLayer device;
    QWidget owner;
    auto* port = new TCustomComPort(&owner, device);
    auto* box = new TComComboBox(&owner);
    box->SetComProperty(cpParity);
    box->SetComPort(port);
    // The owner frees the port first; the selector must not touch it afterwards.
    delete port;
    EXPECT_EQ(box->ComPort(), nullptr);
}

TEST(SelectorLinks, EveryTeardownOrderIsSafe)
{
    TFakeCommLayer device;
    {
        // The combo box owns its port: the port dies in the combo box's own teardown.
        auto* box = new TComComboBox;
        box->SetComProperty(cpBaudRate);
        box->SetComPort(new TCustomComPort(box, device));
        delete box;
    }
    {
        auto* box = new TComComboBox;
        TCustomComPort port(nullptr, device);
        box->SetComPort(&port);
        delete box;
    }
    for (const bool portFirst : {true, false}) {
        // Both owned by a window, created in either order.
        QWidget window;
        TCustomComPort* port = portFirst ? new TCustomComPort(&window, device) : nullptr;
        auto* box = new TComComboBox(&window);
        if (!port)
            port = new TCustomComPort(&window, device);
        box->SetComProperty(cpStopBits);
        box->SetComPort(port);
    }
    EXPECT_EQ(device.OpenDevices(), 0u);
}

TEST(SelectorLayout, OnlyTheLastSelectionRequestedWhileLoadingTakesEffect)
{
    TComComboBox* box = nullptr;
    QWidget parent;
    {
        TLayoutLoading layout;
        box = new TComComboBox(&parent);
        box->setProperty("ComProperty", 2);
        box->setProperty("AutoApply", true);
        box->setProperty("Text", "9600");
        EXPECT_EQ(box->currentIndex(), -1) << "nothing is selected while the layout is applied";
        box->setProperty("ItemIndex", 3);
    }
    EXPECT_EQ(box->Text(), "600");
    EXPECT_TRUE(box->AutoApply());
    EXPECT_EQ(box->ComProperty(), cpBaudRate);
}

TEST(ControlLibrary, SharedFontAndLampPictures)
{
    const TComCtlFont* font = ComCtlFont();
    ASSERT_NE(font, nullptr) << "the library was not started";
    EXPECT_EQ(font->Font.families().value(0), "Fixedsys");
    EXPECT_EQ(font->Font.pointSize(), 9);
    EXPECT_EQ(font->Color, QColor(Qt::white));
    EXPECT_EQ(LedLitNames[0], "LEDREDON");
    EXPECT_EQ(LedDarkNames[5], "LEDBULBOFF");
    EXPECT_TRUE(LedLitNames[6].isEmpty() && LedDarkNames[6].isEmpty());
    for (int i = 0; i < 6; ++i) {
        for (const QString& name : {LedLitNames[i], LedDarkNames[i]}) {
            const QPixmap picture = LedBitmap(name);
            EXPECT_EQ(picture.size(), QSize(15, 15)) << name.toStdString();
        }
    }
    EXPECT_TRUE(LedBitmap(LedLitNames[6]).isNull());
}

} // namespace
